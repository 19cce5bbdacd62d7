'use strict';
// The token from the address the tool printed; every call carries it in a
// header, never in a cookie.
const token = new URLSearchParams(location.search).get('token') || '';
const $ = (id) => document.getElementById(id);
let kinds = [];
let browseOffset = 0;
const pageSize = 50;
let lastUpload = null, lastKind = null, lastStyle = 0, currentRun = null;

async function api(path, options = {}) {
  options.headers = Object.assign({'X-Morvent-Token': token}, options.headers || {});
  const r = await fetch(path, options);
  if (!r.ok) {
    let text = r.status + ' ' + r.statusText;
    try { text = (await r.json()).error || text; } catch (e) {}
    throw new Error(text);
  }
  return r;
}
const getJson = async (path) => (await api(path)).json();

function say(text) {
  const m = $('message');
  m.textContent = text || '';
  m.hidden = !text;
}

function cell(tr, text, cls) {
  const td = document.createElement('td');
  td.textContent = text === undefined || text === null ? '' : String(text);
  if (cls) td.className = cls;
  tr.appendChild(td);
}
function fill(tableId, rows, cells) {
  const body = $(tableId).querySelector('tbody');
  body.replaceChildren();
  for (const r of rows) {
    const tr = document.createElement('tr');
    cells(tr, r);
    body.appendChild(tr);
  }
}

async function download(path, fallbackName) {
  const r = await api(path);
  const blob = await r.blob();
  const cd = r.headers.get('Content-Disposition') || '';
  const m = /filename="([^"]+)"/.exec(cd);
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = m ? m[1] : fallbackName;
  document.body.appendChild(a);
  a.click();
  setTimeout(() => { URL.revokeObjectURL(a.href); a.remove(); }, 10000);
}

function show(tab) {
  for (const b of document.querySelectorAll('nav button')) b.classList.toggle('on', b.dataset.tab === tab);
  for (const s of document.querySelectorAll('main > section')) s.hidden = s.id !== 'tab-' + tab;
  say('');
  const load = {overview: loadOverview, browse: loadBrowse, log: loadLog}[tab];
  if (load) load().catch((e) => say(e.message));
}

async function loadOverview() {
  const o = await getJson('/api/overview');
  kinds = o.kinds;
  $('ledger-path').textContent = o.path;
  $('ledger-kind').textContent = o.kind;
  fill('overview-table', o.kinds, (tr, k) => { cell(tr, k.code); cell(tr, k.element); cell(tr, k.title); cell(tr, k.count, 'num'); });
}

function kindOptions(select, withAll, importableOnly) {
  select.replaceChildren();
  if (withAll) select.add(new Option('整个账套（一个 .xlsx 工作簿）', 'all'));
  for (const k of kinds) if (!importableOnly || k.importable) select.add(new Option(k.code + ' ' + k.title, k.code));
}

async function loadBrowse() {
  const kind = $('browse-kind').value;
  const q = encodeURIComponent($('browse-q').value.trim());
  const p = await getJson(`/api/kinds/${kind}/rows?q=${q}&offset=${browseOffset}&limit=${pageSize}`);
  fill('browse-table', p.rows, (tr, r) => { cell(tr, r.number); cell(tr, r.name); cell(tr, r.parent); });
  const last = Math.min(browseOffset + p.rows.length, p.total);
  $('browse-info').textContent = p.total ? `第 ${browseOffset + 1}–${last} 条，共 ${p.total} 条` : '没有对象';
  $('browse-prev').disabled = browseOffset === 0;
  $('browse-next').disabled = last >= p.total;
}

function showCounts(c) {
  for (const k of ['created', 'kept', 'overwritten', 'failed', 'bareParents']) $('cnt-' + k).textContent = (c && c[k]) || 0;
}
function showErrors(errors) {
  fill('errors', errors, (tr, e) => { cell(tr, e.row || ''); cell(tr, e.number); cell(tr, e.key); cell(tr, e.value); cell(tr, e.message); });
  $('errors-count').textContent = `（${errors.length} 个）`;
}

// Reads the run's server-sent events until "end": progress as it comes,
// then the state the run ended with.
async function follow(runId) {
  const r = await api(`/api/runs/${runId}/events`);
  const reader = r.body.getReader();
  const decoder = new TextDecoder();
  let buffer = '', final = null;
  for (;;) {
    const {value, done} = await reader.read();
    if (done) break;
    buffer += decoder.decode(value, {stream: true});
    let at;
    while ((at = buffer.indexOf('\n\n')) >= 0) {
      const block = buffer.slice(0, at);
      buffer = buffer.slice(at + 2);
      let name = 'message', data = '';
      for (const line of block.split('\n')) {
        if (line.startsWith('event: ')) name = line.slice(7);
        else if (line.startsWith('data: ')) data += line.slice(6);
      }
      if (!data) continue;
      const j = JSON.parse(data);
      if (name === 'end') final = j;
      else if (j.event === 'ImportOneRow') {
        $('progress').value = j.dblRate;
        $('progress-text').textContent = `已处理 ${j.lRow} 条（${Math.round(j.dblRate)}%）`;
      } else if (j.event === 'Error') {
        $('errors-count').textContent = '（进行中）';
      }
    }
  }
  return final || getJson(`/api/runs/${runId}`);
}

async function startRun(dryRun) {
  say('');
  $('run').hidden = false;
  $('import-confirm').hidden = true;
  $('errors-download').hidden = true;
  $('run-notes').replaceChildren();
  showCounts(null);
  showErrors([]);
  $('progress').value = 0;
  $('progress-text').textContent = '';
  $('run-title').textContent = (dryRun ? '预演：' : '引入：') + $('import-kind').selectedOptions[0].text;
  $('run-status').textContent = dryRun ? '预演中……' : '引入中……';
  const r = await api('/api/runs', {method: 'POST', headers: {'Content-Type': 'application/json'},
    body: JSON.stringify({upload: lastUpload, kind: lastKind, dryRun, impStyle: lastStyle})});
  currentRun = (await r.json()).run;
  $('run-cancel').hidden = false;
  const state = await follow(currentRun);
  $('run-cancel').hidden = true;
  $('progress').value = state.cancelled ? $('progress').value : 100;
  showCounts(state.counts);
  showErrors(state.errors);
  const notes = (state.warnings || []).map((w) => '警告：' + w).concat(state.notes || []);
  for (const n of notes) { const li = document.createElement('li'); li.textContent = n; $('run-notes').appendChild(li); }
  const ok = state.status === 0 || state.status === 4;
  if (state.cancelled) $('run-status').textContent = dryRun ? '预演已取消，未保存任何记录' : '引入已取消，已处理的记录已保存';
  else if (dryRun) $('run-status').textContent = ok ? '预演完成，未保存任何记录：请核对后确认引入' : '预演未完成（退出状态 ' + state.status + '）';
  else $('run-status').textContent = ok ? '引入完成' : '引入未完成（退出状态 ' + state.status + '）';
  if (dryRun && ok && !state.cancelled) $('import-confirm').hidden = false;
  $('errors-download').hidden = !state.errorsBook;
  return state;
}

async function dryRun() {
  const file = $('import-file').files[0];
  if (!file) return say('请选择要上传的文件');
  const form = new FormData();
  form.append('file', file, file.name);
  const r = await api('/api/uploads', {method: 'POST', body: form});
  lastUpload = (await r.json()).upload;
  lastKind = $('import-kind').value;
  lastStyle = Number($('import-style').value);
  await startRun(true);
}

async function loadLog() {
  const l = await getJson('/api/log');
  $('log-path').textContent = '日志文件：' + l.path + (l.damage ? '（日志有损坏：' + l.damage + '）' : '') + (l.note ? '。' + l.note : '');
  fill('log-table', l.entries, (tr, e) => { cell(tr, e.time); cell(tr, e.direct); cell(tr, e.message); });
}

function setUp() {
  for (const b of document.querySelectorAll('nav button')) b.onclick = () => show(b.dataset.tab);
  kindOptions($('browse-kind'), false, false);
  kindOptions($('import-kind'), true, true);
  $('import-kind').value = kinds.length ? String(kinds[0].code) : 'all';
  $('browse-kind').onchange = () => { browseOffset = 0; loadBrowse().catch((e) => say(e.message)); };
  $('browse-go').onclick = $('browse-kind').onchange;
  $('browse-q').onkeydown = (e) => { if (e.key === 'Enter') $('browse-kind').onchange(); };
  $('browse-prev').onclick = () => { browseOffset = Math.max(0, browseOffset - pageSize); loadBrowse().catch((e) => say(e.message)); };
  $('browse-next').onclick = () => { browseOffset += pageSize; loadBrowse().catch((e) => say(e.message)); };
  $('import-dry').onclick = () => dryRun().catch((e) => { say(e.message); $('run-status').textContent = ''; });
  $('import-confirm').onclick = () => startRun(false).catch((e) => say(e.message));
  $('run-cancel').onclick = () => currentRun && api(`/api/runs/${currentRun}/cancel`, {method: 'POST'}).catch((e) => say(e.message));
  $('errors-download').onclick = () => download(`/api/runs/${currentRun}/errors`, 'errors.xlsx').catch((e) => say(e.message));
  const box = $('export-kinds');
  for (const k of kinds) {
    const l = document.createElement('label');
    const c = document.createElement('input');
    c.type = 'checkbox'; c.value = k.code; c.name = 'export-kind';
    l.append(c, ' ' + k.code + ' ' + k.title);
    box.appendChild(l);
  }
  $('export-all-kinds').onclick = () => { for (const c of box.querySelectorAll('input')) c.checked = true; };
  $('export-go').onclick = async () => {
    const chosen = [...box.querySelectorAll('input:checked')].map((c) => c.value);
    const format = document.querySelector('input[name=export-format]:checked').value;
    if (!chosen.length) return say('请至少选择一种基础资料');
    $('export-status').textContent = '导出中……';
    try {
      await download(`/api/export?kinds=${chosen.join(',')}&format=${format}`, 'export');
      $('export-status').textContent = '已下载';
    } catch (e) { say(e.message); $('export-status').textContent = ''; }
  };
  fill('templates-table', kinds.filter((k) => k.importable), (tr, k) => {
    cell(tr, k.code + ' ' + k.title);
    const td = document.createElement('td');
    for (const f of ['xlsx', 'csv']) {
      const b = document.createElement('button');
      b.textContent = f.toUpperCase();
      b.onclick = () => download(`/api/template?kind=${k.code}&format=${f}`, k.element + '.' + f).catch((e) => say(e.message));
      td.appendChild(b);
    }
    tr.appendChild(td);
  });
}

loadOverview().then(setUp).catch((e) => say(e.message));
