#pragma once
// In-memory stand-ins for outside components, for injecting failures.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "context/datafile.h"
#include "context/ledger_api.h"
#include "platform/error.h"
#include "platform/text.h"

namespace morvent::test {

// A record set over rows of named values; a row may be set to fail when one
// of its fields is read.
class FakeRecordSet : public RecordSet {
 public:
  using Row = std::map<std::string, Variant>;
  explicit FakeRecordSet(std::vector<Row> rows) : rows_(std::move(rows)) {}

  bool BOF() const override { return rows_.empty() || pos_ < 0; }
  bool EOF_() const override { return rows_.empty() || pos_ >= static_cast<int>(rows_.size()); }
  void MoveFirst() override { pos_ = 0; }
  void MoveNext() override { ++pos_; }
  void MoveLast() override { pos_ = static_cast<int>(rows_.size()) - 1; }
  int32_t RecordCount() const override { return static_cast<int32_t>(rows_.size()); }
  void Find(const std::string& criteria) override {
    auto eq = criteria.find('=');
    std::string field = criteria.substr(0, eq), value = criteria.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '\'') value = Replace(value.substr(1, value.size() - 2), "''", "'");
    for (; pos_ < static_cast<int>(rows_.size()); ++pos_)
      if (rows_[static_cast<size_t>(pos_)].at(field).ToText() == value) return;
  }
  Variant Field(const std::string& name) const override {
    if (EOF_() || BOF()) throw Error(3021, "Fake", "BOF 或 EOF 中有一个是真");
    if (pos_ == failAtRow && name == failField) throw Error(kErrLedger, "Fake", failText);
    return rows_[static_cast<size_t>(pos_)].at(name);
  }

  int failAtRow = -1;
  std::string failField;
  std::string failText = "账套读取失败";

 private:
  std::vector<Row> rows_;
  int pos_ = 0;
};

class FakeAccountInfo : public AccountInfo {
 public:
  explicit FakeAccountInfo(std::shared_ptr<FakeRecordSet> list) : list_(std::move(list)) {}
  RecordSetPtr GetAccountGroupList(const std::string& props) override {
    ++calls;
    lastProps = props;
    return list_;
  }
  int calls = 0;
  std::string lastProps;

 private:
  std::shared_ptr<FakeRecordSet> list_;
};

// A writer that keeps what it was handed instead of writing a file.
class CapturingWriter : public DataFileWriter {
 public:
  void OutputXML(RecordCollectionPtr& collection, const std::string& dataFile, const std::string& schemaFile,
                 const std::string& elementName, std::string& errorText) override {
    if (!failWith.empty()) {
      errorText = failWith;
      throw Error(kErrDataFile, "XMLPellam.Write", errorText);
    }
    written.push_back({collection, dataFile, schemaFile, elementName});
  }
  std::string failWith;  // when set, every write fails with this text
  struct Call {
    RecordCollectionPtr collection;
    std::string file, schema, element;
  };
  std::vector<Call> written;
};

}  // namespace morvent::test
