import threading
import time

import morvent
from morvent import Kind


class Counter:
    """A Python thread counting as fast as it can: it advances only while no
    other thread holds the interpreter's lock."""

    def __init__(self):
        self.count = 0
        self.running = True
        self.thread = threading.Thread(target=self._run)

    def _run(self):
        while self.running:
            self.count += 1

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.running = False
        self.thread.join()

    def rate(self, seconds=0.3):
        start = self.count
        time.sleep(seconds)
        return (self.count - start) / seconds


def test_two_ledgers_import_in_two_threads_while_python_runs_on(tmp_path):
    file = tmp_path / "Customer.xml"
    rows = 20000
    morvent.write(file, Kind.CUSTOMER, [{"Number": f"{i:06d}", "Name": f"客户{i}"} for i in range(rows)])
    ledgers = [morvent.create_ledger(tmp_path / f"ledger{i}.db") for i in range(2)]
    results, failures = {}, []

    def run(i):
        try:
            results[i] = ledgers[i].import_(Kind.CUSTOMER, file)
        except BaseException as e:  # reported by the main thread
            failures.append(e)

    with Counter() as counter:
        rate = counter.rate()
        workers = [threading.Thread(target=run, args=(i,)) for i in range(2)]
        start, before = time.monotonic(), counter.count
        for w in workers:
            w.start()
        for w in workers:
            w.join()
        seconds, advanced = time.monotonic() - start, counter.count - before
    assert failures == []
    assert [results[i].created for i in range(2)] == [rows, rows]
    # Held for the imports, the lock would let the counter run a switch
    # interval at most; released, it runs on at a good part of its pace.
    assert seconds > 0.2
    assert advanced > 0.1 * rate * seconds, (advanced, rate, seconds)


def test_callbacks_run_on_each_calling_thread(demo_export, tmp_path):
    ledgers = [morvent.create_ledger(tmp_path / f"ledger{i}.db") for i in range(2)]
    seen = {0: set(), 1: set()}
    idents, failures = {}, []

    def run(i):
        idents[i] = threading.get_ident()
        try:
            for _ in range(3):
                ledgers[i].import_all(demo_export, imp_style=2,
                                      progress=lambda kind, row, rate: seen[i].add(threading.get_ident()))
        except BaseException as e:
            failures.append(e)

    workers = [threading.Thread(target=run, args=(i,)) for i in range(2)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert failures == []
    assert seen == {0: {idents[0]}, 1: {idents[1]}}


def test_ctrl_c_during_a_run_stops_it(tmp_path):
    import signal
    file = tmp_path / "Customer.xml"
    rows = 1000
    morvent.write(file, Kind.CUSTOMER, [{"Number": f"{i:06d}", "Name": f"客户{i}"} for i in range(rows)])
    ledger = morvent.create_ledger(tmp_path / "ledger.db")
    seen, raised = [], threading.Event()

    def interrupt():
        signal.raise_signal(signal.SIGINT)
        raised.set()

    def progress(kind, row, rate):
        seen.append(row)
        if row == 100:
            # From another thread, as a terminal's Ctrl-C arrives.
            threading.Thread(target=interrupt).start()
            raised.wait(10)

    try:
        ledger.import_(Kind.CUSTOMER, file, progress=progress)
    except KeyboardInterrupt:
        pass
    else:
        raise AssertionError("the run was not interrupted")
    assert len(seen) == 100
    assert ledger.export(Kind.CUSTOMER, tmp_path / "stored.xml").rows == 100
