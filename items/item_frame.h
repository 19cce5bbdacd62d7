#pragma once
// CItemFrame: the procedure every item handler shares (departments,
// customers, suppliers, employees, ...), driven by the kind's ItemKind.
//
// Export writes every item of the kind's item class: "Number", "Name", the
// kind's fields in table order, and the parent as "Name"/"Number" under the
// kind's parent key. Import reads the data file and, per record read from
// the file, checks its number against its parent (ParentResolver), finds,
// imports or creates the parent, then creates the item, or by the
// "ImpStyle" option keeps it (1) or overwrites it (2); the parent of an
// existing item never changes.
//
// Error messages name the current item (export) or record (import). Before
// any is current, or after the last one (opening the item set, writing the
// file), the name is empty: the message then reads prefix, CR,
// "错误信息：", CR, description.
#include <cstdint>
#include <map>
#include <optional>
#include <unordered_map>
#include <memory>
#include <string>

#include "context/ledger_api.h"
#include "context/record.h"
#include "front/handler.h"
#include "items/item_kind.h"
#include "items/item_lookup.h"
#include "items/item_parent.h"

namespace morvent {

class CItemFrame : public EntityHandler {
 public:
  explicit CItemFrame(const ItemKind& kind);

  bool Export(const std::string& PropsString, const std::string& sFile) override;
  // True when an item with that ID exists in the class; never raises.
  bool CheckID(int32_t id);
  // The item's record as exported; an empty record when there is none.
  DataRecordPtr GetInfo(int32_t id);
  bool Import(const std::string& sFile) override;
  // Makes sure the item the record describes exists, as an import would,
  // and answers its ID. A parent not in the ledger is created bare.
  int32_t GetID(const DataRecordPtr& record);

  const ItemKind& Kind() const { return kind_; }
  // For custom fields: the item set and the kind's lookups.
  ObjectSet& ItemSet() { return Must(items_); }
  LookupHandler& Lookup(const std::string& name);
  // Lets the lookups keep their answers for one export (LookupHandler).
  void KeepLookupAnswers(bool on);

 protected:
  void LoadItems();
  DataRecordPtr BuildRecord(LedgerObject& item);
  LedgerObjectPtr FindItem(int32_t id);
  int32_t ImportRecord(const DataRecordPtr& record, std::string& number);

 private:
  ParentRef ReadParent(const DataRecord& record) const;
  void ExportField(const ItemField& f, LedgerObject& item, DataRecord& record);
  void ImportField(const ItemField& f, LedgerObject& item, const DataRecord& record);
  std::vector<std::pair<int32_t, std::string>> FindUndotted(const std::string& undotted);
  int32_t CreateBareParent(const std::string& number, const Variant& name);
  // ExistenceCheck by number within the kind's class.
  int32_t FindByNumber(const std::string& number);

  const ItemKind& kind_;
  ObjectSetPtr items_;
  std::map<std::string, std::unique_ptr<LookupHandler>> lookups_;
  ParentResolver parents_;
  // The argument lists of the per-record set calls, filled in place each time
  // (the calls never reach back into the frame, so one of each serves).
  NamedArgs byNumber_;
  std::vector<Variant> newArgs_;
  NamedArgs newNamed_;
  // Name and number of the parents met by the export under way, by ID: most
  // items share their parent with the one before.
  struct ParentNames {
    Variant name, number;
  };
  std::optional<std::unordered_map<int32_t, ParentNames>> exportParents_;
};

}  // namespace morvent
