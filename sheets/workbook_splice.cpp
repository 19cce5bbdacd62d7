#include "sheets/workbook_splice.h"

#include <xlsxwriter.h>
#include <zip.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "sheets/table.h"

namespace morvent::sheets {

namespace {

// A part read by libzip as prefix, rows file, suffix.
struct PartSource {
  std::string prefix, suffix;
  FILE* rows = nullptr;
  uint64_t rowsSize = 0, pos = 0;
  time_t mtime = 0;
  zip_error_t error;

  uint64_t Size() const { return prefix.size() + rowsSize + suffix.size(); }

  zip_int64_t Read(char* data, uint64_t len) {
    uint64_t done = 0;
    while (done < len && pos < Size()) {
      uint64_t n;
      if (pos < prefix.size()) {
        n = std::min<uint64_t>(len - done, prefix.size() - pos);
        std::memcpy(data + done, prefix.data() + pos, n);
      } else if (pos < prefix.size() + rowsSize) {
        n = std::fread(data + done, 1, std::min<uint64_t>(len - done, prefix.size() + rowsSize - pos), rows);
        if (n == 0) {
          zip_error_set(&error, ZIP_ER_READ, std::ferror(rows) ? errno : EIO);
          return -1;
        }
      } else {
        const uint64_t at = pos - prefix.size() - rowsSize;
        n = std::min<uint64_t>(len - done, suffix.size() - at);
        std::memcpy(data + done, suffix.data() + at, n);
      }
      done += n;
      pos += n;
    }
    return static_cast<zip_int64_t>(done);
  }
};

zip_int64_t Callback(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* s = static_cast<PartSource*>(state);
  switch (cmd) {
    case ZIP_SOURCE_OPEN:
      s->pos = 0;
      if (std::fseek(s->rows, 0, SEEK_SET) != 0) {
        zip_error_set(&s->error, ZIP_ER_SEEK, errno);
        return -1;
      }
      return 0;
    case ZIP_SOURCE_READ:
      return s->Read(static_cast<char*>(data), len);
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = static_cast<zip_stat_t*>(data);
      zip_stat_init(st);
      st->size = s->Size();
      st->mtime = s->mtime;
      st->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
      return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&s->error, data, len);
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                            ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SUPPORTS, -1);
    default:
      zip_error_set(&s->error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

std::string ReadPart(zip_t* z, zip_uint64_t index) {
  std::string out;
  zip_file_t* f = zip_fopen_index(z, index, 0);
  if (!f) return out;
  char buf[8192];
  zip_int64_t n;
  while ((n = zip_fread(f, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  zip_fclose(f);
  return out;
}

}  // namespace

void SpliceRows(const std::string& path, const std::string& shownPath, const std::vector<SplicedSheet>& sheets,
                int level) {
  auto fail = [&] { throw SheetError("无法写入文件 " + shownPath + "（" + lxw_strerror(LXW_ERROR_ZIP_FILE_OPERATION) + "）"); };
  // Read by zip_close, and freed by a discard: they outlive the archive.
  std::vector<std::unique_ptr<PartSource>> sources;
  int err = 0;
  std::unique_ptr<zip_t, decltype(&zip_discard)> z(zip_open(path.c_str(), 0, &err), &zip_discard);
  if (!z) fail();
  for (const auto& sheet : sheets) {
    const zip_int64_t index = zip_name_locate(z.get(), sheet.part.c_str(), 0);
    zip_stat_t st;
    if (index < 0 || zip_stat_index(z.get(), static_cast<zip_uint64_t>(index), 0, &st) != 0) fail();
    const std::string part = ReadPart(z.get(), static_cast<zip_uint64_t>(index));
    auto s = std::make_unique<PartSource>();
    zip_error_init(&s->error);
    if (size_t at = part.find("</sheetData>"); at != std::string::npos) {
      s->prefix = part.substr(0, at);
      s->suffix = part.substr(at);
    } else if (at = part.find("<sheetData/>"); at != std::string::npos) {
      s->prefix = part.substr(0, at) + "<sheetData>";
      s->suffix = "</sheetData>" + part.substr(at + 12);
    } else {
      fail();
    }
    const std::string dim = "<dimension ref=\"";
    if (size_t at = s->prefix.find(dim); at != std::string::npos) {
      const size_t from = at + dim.size(), to = s->prefix.find('"', from);
      s->prefix.replace(from, to - from, sheet.dimension);
    }
    s->rows = sheet.rows->File();
    s->rowsSize = sheet.rows->Size();
    s->mtime = (st.valid & ZIP_STAT_MTIME) ? st.mtime : 0;
    zip_source_t* src = zip_source_function(z.get(), Callback, s.get());
    if (!src) fail();
    if (zip_file_replace(z.get(), static_cast<zip_uint64_t>(index), src, 0) != 0) {
      zip_source_free(src);
      fail();
    }
    sources.push_back(std::move(s));
    // Deflate by its default name: naming the part's own method again makes
    // libzip drop the level and deflate at its best, slowest.
    if (zip_set_file_compression(z.get(), static_cast<zip_uint64_t>(index), ZIP_CM_DEFAULT,
                                 static_cast<zip_uint32_t>(level)) != 0)
      fail();
  }
  if (zip_close(z.get()) != 0) fail();
  z.release();
}

}  // namespace morvent::sheets
