// Data files that try to hang the reader or make it balloon: special files,
// endless whitespace, very long values and markup.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <future>

#include "tests/datafile/helpers.h"

namespace morvent::test {
namespace {

class HostileInput : public ::testing::Test {
 protected:
  std::string Read(const std::string& path) {
    out = std::make_shared<RecordCollection>();
    return ReadWithComponent(out, path, "Customer", SourceSchemaDir());
  }
  // A file of the head, `n` copies of `fill` and the tail.
  void Fill(const std::string& head, size_t n, char fill, const std::string& tail) {
    std::ofstream f(file, std::ios::binary);
    f << head;
    std::string block(1 << 20, fill);
    for (; n >= block.size(); n -= block.size()) f.write(block.data(), static_cast<std::streamsize>(block.size()));
    f.write(block.data(), static_cast<std::streamsize>(n));
    f << tail;
  }
  std::string Failed(long line, const std::string& problem) const {
    return "读取数据文件 " + file + " 出错：第 " + std::to_string(line) + " 行：" + problem;
  }

  TempDir dir;
  const std::string file = dir.file("in.xml");
  RecordCollectionPtr out;
};

TEST_F(HostileInput, AFifoWithoutWriterIsRefusedAtOnce) {
  std::string fifo = dir.file("pipe.xml");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto read = std::async(std::launch::async, [&] { return Read(fifo); });
  if (read.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "the read waits for a writer";
    ::close(::open(fifo.c_str(), O_WRONLY));  // lets it go so the test ends
  }
  EXPECT_EQ(read.get(), "数据文件 " + fifo + " 不是普通文件");
}

TEST_F(HostileInput, SocketsAreNoDataFilesButLinksToFilesAre) {
  std::string sock = dir.file("s.xml");
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(sock.size(), sizeof addr.sun_path);
  std::strcpy(addr.sun_path, sock.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_EQ(Read(sock), "数据文件 " + sock + " 不是普通文件");
  ::close(fd);

  WriteFile(file, "<CustomerList><Customer><Name>甲</Name></Customer></CustomerList>");
  std::string link = dir.file("link.xml");
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
  ASSERT_EQ(Read(link), "");
  EXPECT_EQ(out->Item(1)->Value("Name").RawText(), "甲");
}

TEST_F(HostileInput, ATenMegabyteValueReadsWhole) {
  const size_t n = 10u << 20;
  Fill("<CustomerList><Customer><Number>1</Number><Name>", n, 'v', "</Name></Customer></CustomerList>");
  ASSERT_EQ(Read(file), "");
  std::string name = out->Item(1)->Value("Name").RawText();
  EXPECT_EQ(name.size(), n);
  EXPECT_EQ(name.find_first_not_of('v'), std::string::npos);
}

TEST_F(HostileInput, OverlongPiecesAreRefusedWithKeyAndLine) {
  Fill("<CustomerList>\n<Customer>\n<Number>1</Number>\n<Address>", (16u << 20) + 1, 'a', "</Address></Customer></CustomerList>");
  EXPECT_EQ(Read(file), Failed(4, "键 Address 的值超过 16 MB，无法读入"));
  EXPECT_EQ(out->UBound(), 0);
  Fill("<CustomerList>\n<Customer>\n<Number><![CDATA[", (2u << 20) + 1, 'c', "]]></Number></Customer></CustomerList>");
  EXPECT_EQ(Read(file), Failed(3, "键 Number 中有超过 2 MB 的 CDATA 段，无法读入"));
  Fill("<CustomerList>\n<Customer>\n<Number>1</Number><Address><![CDATA[", (2u << 20) - 16, '>', "]]></Address></Customer></CustomerList>");
  EXPECT_EQ(Read(file), "");
  Fill("<CustomerList>\n<Customer xsi:nil=\"", 300u << 10, 'x', "\"/></CustomerList>");
  EXPECT_EQ(Read(file), Failed(2, "有超过 256 KB 的标签、注释或处理指令，无法读入"));
  Fill("<CustomerList>\n<Customer/>\n<!--", 300u << 10, 'm', "-->\n</CustomerList>");
  EXPECT_EQ(Read(file), Failed(3, "有超过 256 KB 的标签、注释或处理指令，无法读入"));
  // libxml2 takes minutes over a comment of dashes; it is refused at once.
  Fill("<CustomerList>\n<Customer/>\n<!-- a\n", 200u << 10, '-', "");
  EXPECT_EQ(Read(file), Failed(3, "注释中不能有连续的两个减号（--）"));
  // libxml2 keeps comments in a row in memory; a flood of them is refused.
  std::string comments;
  for (int i = 0; i < 10000; ++i) comments += i % 2 ? "<!-- c -->\n" : "<?pi?>\n";
  WriteFile(file, "<CustomerList>\n" + comments + "<Customer/>" + comments + "</CustomerList>");
  EXPECT_EQ(Read(file), "");
  WriteFile(file, "<CustomerList>\n" + comments + "<![CDATA[]]>\n</CustomerList>");
  EXPECT_EQ(Read(file), Failed(10002, "连续的注释、处理指令或 CDATA 段超过 10000 个，中间没有任何元素，无法读入"));
  // Text cut by comments or instructions is held whole by the parser until
  // the next tag, so the cut pieces count together.
  std::string cut;
  for (int i = 0; i < 17; ++i) cut += std::string(1u << 20, ' ') + (i % 2 ? "<!---->" : "<?p?>");
  WriteFile(file, "<CustomerList>\n<Customer>\n<Number>1</Number>\n<Address>" + cut + "</Address></Customer></CustomerList>");
  EXPECT_EQ(Read(file), Failed(4, "键 Address 的值连同其中的注释与处理指令超过 16 MB，无法读入"));
  WriteFile(file, "<?xml version=\"1.0\"?>\n" + cut + "<CustomerList/>");
  EXPECT_EQ(Read(file), Failed(1, "有超过 16 MB 的文本、注释与处理指令之间没有任何元素的标签，无法读入"));
  // libxml2 rescans the rest of the text for the ';' of a '&' on every
  // chunk, minutes for megabytes; a '&' that starts no reference is refused
  // on its line, in a value or where only blanks may stand.
  const std::string bare = "文本中有单独的“&”：XML 中的 & 须写成 &amp;（例如 A&amp;B）";
  std::string ampersands;  // each '&' near the last, none ever closed
  for (int i = 0; i < 8000; ++i) ampersands += "x &" + std::string(500, 'y');
  const std::pair<std::string, long> amps[] = {
      {"<CustomerList>\n<Customer>\n<Name>a\n&" + std::string(4u << 20, ' ') + "</Name></Customer>", 4},
      {"<CustomerList>\n" + std::string(5000, ' ') + "\n\n, &&" + std::string(4u << 20, ',') + "<Customer/>", 4},
      {"<CustomerList>\n<Customer>\n<Name>" + std::string(1u << 20, 'n') + "&amp;&#x41;&" + std::string(2000, 'q') + ";</Name></Customer>", 3},
      {"<CustomerList>\n\n" + ampersands + "<Customer/>", 3},
  };
  for (const auto& [text, line] : amps) {
    WriteFile(file, text + "</CustomerList>");
    EXPECT_EQ(Read(file), Failed(line, bare)) << line;
  }
  std::string refs;
  for (int i = 0; i < 200000; ++i) refs += i % 2 ? "&amp;" : "&#x5BA2;";
  WriteFile(file, "<CustomerList><Customer><Name>" + refs + "</Name></Customer></CustomerList>");
  ASSERT_EQ(Read(file), "");
  EXPECT_EQ(out->Item(1)->Value("Name").RawText().size(), 100000u * 4);
  WriteFile(file, "<CustomerList><!----><!-- - x - --><Customer><Name>a<!--->-->&gt;b</Name></Customer></CustomerList>");
  ASSERT_EQ(Read(file), "");
  EXPECT_EQ(out->Item(1)->Value("Name").RawText(), "a>b");
}

// The scan takes runs of text and markup in strides: the line of a refused
// piece stays right wherever line feeds, quotes and tag ends fall in them.
TEST_F(HostileInput, RefusedPiecesKeepTheirLineWhateverPrecedesThem) {
  const std::string overlong[] = {"<!--" + std::string(300u << 10, 'm') + "-->", "<Customer" + std::string(300u << 10, 'a') + ">"};
  for (size_t pad = 0; pad < 40; ++pad) {
    std::string head = "<CustomerList xmlns:q=\"u>\nv\"\n>\n<Customer><Name>" + std::string(pad, 'x') + "\n" +
                       std::string(pad % 5, '\n') + "y</Name></Customer>\n<Customer\n><Name>" +
                       std::string(pad * 3, 'z') + "</Name></Customer>\n";
    long line = 1 + std::count(head.begin(), head.end(), '\n');
    for (const auto& piece : overlong) {
      WriteFile(file, head + piece + "\n</CustomerList>");
      EXPECT_EQ(Read(file), Failed(line, "有超过 256 KB 的标签、注释或处理指令，无法读入")) << pad;
    }
  }
}

// Reads in a child process and answers the growth of its peak resident
// memory in MB and the error text.
std::pair<long, std::string> MeasuredRead(const std::string& path) {
  int fds[2];
  if (::pipe(fds) != 0) return {-1, "no pipe"};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    auto c = std::make_shared<RecordCollection>();
    std::string error = ReadWithComponent(c, path, "Customer", SourceSchemaDir());
    ::getrusage(RUSAGE_SELF, &after);
    std::string report = std::to_string((after.ru_maxrss - before.ru_maxrss) / 1024) + "\n" + error;
    ssize_t ignored = ::write(fds[1], report.data(), report.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string report;
  char buf[4096];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) report.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  auto nl = report.find('\n');
  if (nl == std::string::npos) return {-1, "child failed"};
  return {std::stol(report.substr(0, nl)), report.substr(nl + 1)};
}

// Whitespace in the file's prolog and between records: memory stays under
// 100 MB for a file larger than that (it would grow with the file).
TEST_F(HostileInput, WhitespaceDoesNotBalloon) {
  const size_t n = 112u << 20;
  const std::pair<std::string, std::string> cases[] = {{"", ""}, {"<CustomerList>\n<Customer/>", "</CustomerList>"}};
  for (const auto& [head, tail] : cases) {
    Fill(head, n, ' ', tail);
    auto [grownMb, error] = MeasuredRead(file);
    EXPECT_EQ(error, Failed(head.empty() ? 1 : 2, "有超过 16 MB 的连续内容不含任何标记，无法读入")) << head;
    EXPECT_GE(grownMb, 0) << head;
    EXPECT_LT(grownMb, 100) << head;
  }
}

// Blanks cut into runs by comments and instructions, between records and
// between the keys of one: the parser would hold all of them at once, so
// they are never handed to it; the records and the lines stay the same.
TEST_F(HostileInput, BlanksCutByMarkupDoNotBalloon) {
  auto stretch = [](int mb) {
    std::string text;
    for (int i = 0; i < mb; ++i) {
      std::string run(1u << 20, ' ');
      for (size_t at = 0; at < run.size(); at += 64u << 10) run[at] = i % 3 ? '\n' : '\t';
      text += run + (i % 2 ? "<!---->" : "<?p x?>");
    }
    return text;
  };
  const std::string outer = stretch(48), inner = stretch(8);  // 72 MB in all
  auto lines = [](const std::string& s) { return std::count(s.begin(), s.end(), '\n'); };
  auto file = [&](bool blanks, const std::string& last) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<CustomerList xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">" +
                       (blanks ? outer : "") + "\n";
    for (int i = 1; i <= 300; ++i) {
      const std::string b = blanks && i == 150 ? inner : "";
      text += "<Customer>" + b + "<Number>" + std::to_string(i) + "</Number>" + b + "\n<Name>客户" +
              std::to_string(i) + "</Name><Fax xsi:nil=\"true\"/>" + "<CustomerType>" + b +
              "<Name>华东</Name></CustomerType>\n</Customer>\n";
    }
    return text + last + "</CustomerList>\n";
  };
  const std::string plain = dir.file("plain.xml"), blanky = dir.file("blanky.xml");
  WriteFile(plain, file(false, ""));
  WriteFile(blanky, file(true, ""));
  auto [plainMb, plainError] = MeasuredRead(plain);
  auto [blankyMb, blankyError] = MeasuredRead(blanky);
  ASSERT_EQ(plainError, "");
  ASSERT_EQ(blankyError, "");
  EXPECT_LT(blankyMb, plainMb + 8) << "72 MB of blanks cost " << blankyMb << " MB";

  ASSERT_EQ(Read(plain), "");
  const std::string expected = Describe(*out);
  ASSERT_EQ(Read(blanky), "");
  EXPECT_EQ(Describe(*out), expected);
  EXPECT_EQ(out->Item(150)->Record("CustomerType")->Value("Name").RawText(), "华东");

  WriteFile(blanky, file(true, "<Customer><Nmae/></Customer>"));
  EXPECT_EQ(Read(blanky), "读取数据文件 " + blanky + " 出错：第 " + std::to_string(lines(outer) + 3 * lines(inner) + 3 * 300 + 3) +
                              " 行：元素 Customer 中有未知的键 Nmae：接口定义文件中没有这个键（键名区分大小写），是否应为 Name？");
}

}  // namespace
}  // namespace morvent::test
