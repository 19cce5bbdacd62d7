#pragma once
// The record set the information services answer: a small, materialized
// list of rows read once from the ledger. Services of the item side build
// theirs with the same class.
#include <string>
#include <vector>

#include "context/ledger_api.h"

namespace morvent {

class Query;

class RowSet : public RecordSet {
 public:
  explicit RowSet(std::vector<std::string> fields);
  // Every row of the query, with the query's column names as fields.
  static std::shared_ptr<RowSet> FromQuery(Query& query);

  // Rows are added before the set is read; the set starts on the first row.
  void AddRow(std::vector<Variant> values);

  // On a non-empty set BOF and EOF are both False at the first row; an
  // empty set is at BOF and EOF at once.
  bool BOF() const override;
  bool EOF_() const override;
  void MoveFirst() override;
  // Moving past the last row reaches EOF; moving at EOF raises an error.
  void MoveNext() override;
  void MoveLast() override;
  int32_t RecordCount() const override;
  // "field=number" or "field='text'", blanks allowed around the parts.
  // Text compares exactly; a Null field never matches.
  void Find(const std::string& criteria) override;
  Variant Field(const std::string& name) const override;

 private:
  int FieldIndex(const std::string& name) const;

  std::vector<std::string> fields_;
  std::vector<std::vector<Variant>> rows_;
  size_t pos_ = 0;  // rows_.size() is EOF
};

}  // namespace morvent
