#include "store/ledger_schema.h"

#include <string>

#include "store/item_metadata.h"
#include "store/ledger_counts.h"
#include "store/ledger_store.h"

namespace morvent {

namespace {

// Version 1. Column names carry the "F" prefix of the ledger's fields so a
// LedgerObject's Properties(field) maps straight onto them. Tables whose IDs
// are handed out use AUTOINCREMENT, so an ID is never used twice even if its
// row goes; ledgers made before lack it and open unchanged (same version):
// they never delete such rows, and IDs of lost transactions are kept apart
// by LedgerStore::SettleNewId either way.
constexpr const char* kCoreV1 = R"SQL(
CREATE TABLE ledger_meta (FKey TEXT PRIMARY KEY, FValue TEXT) WITHOUT ROWID;
CREATE TABLE ledger_counts (FTable TEXT NOT NULL, FScope INTEGER NOT NULL, FCount INTEGER NOT NULL,
  PRIMARY KEY (FTable, FScope)) WITHOUT ROWID;

CREATE TABLE t_AccountGroup (
  FGroupID INTEGER PRIMARY KEY AUTOINCREMENT,
  FName TEXT NOT NULL);

CREATE TABLE t_Account (
  FAccountID INTEGER PRIMARY KEY AUTOINCREMENT,
  FNumber TEXT NOT NULL,
  FName TEXT,
  FHelperCode TEXT,
  FDC INTEGER,
  FLevel INTEGER,
  FDetail INTEGER,
  FAdjustRate INTEGER,
  FContact INTEGER,
  FQuantities INTEGER,
  FIsCash INTEGER,
  FIsBank INTEGER,
  FJournal INTEGER,
  FIsCashFlow INTEGER,
  FAcctint INTEGER,
  FIntRate REAL,
  FCurrencyID INTEGER NOT NULL DEFAULT 0,
  FGroupID INTEGER NOT NULL DEFAULT 0,
  FMeasureUnitID INTEGER NOT NULL DEFAULT 0,
  FParentID INTEGER NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX ix_Account_Number ON t_Account (FNumber);
CREATE INDEX ix_Account_Parent ON t_Account (FParentID);

-- Extended properties of an account (its Dictionary), one row per key.
CREATE TABLE t_AccountProp (
  FAccountID INTEGER NOT NULL,
  FKey TEXT NOT NULL,
  FType INTEGER NOT NULL,
  FValue,
  PRIMARY KEY (FAccountID, FKey)) WITHOUT ROWID;

-- Item classes attached to an account, in the order given.
CREATE TABLE t_AccountItem (
  FAccountID INTEGER NOT NULL,
  FSeq INTEGER NOT NULL,
  FItemClassID INTEGER NOT NULL,
  FBalChecked INTEGER NOT NULL DEFAULT 1,
  PRIMARY KEY (FAccountID, FSeq)) WITHOUT ROWID;

CREATE TABLE t_Currency (
  FCurrencyID INTEGER PRIMARY KEY AUTOINCREMENT,
  FNumber TEXT NOT NULL,
  FName TEXT,
  FExchangeRate REAL,
  FOperator TEXT,
  FScale INTEGER);
CREATE UNIQUE INDEX ix_Currency_Number ON t_Currency (FNumber);

CREATE TABLE t_VoucherGroup (
  FGroupID INTEGER PRIMARY KEY AUTOINCREMENT,
  FName TEXT,
  FCRange TEXT, FDRange TEXT, FNCRange TEXT, FNDRange TEXT, FDCRange TEXT, FNDCRange TEXT);
CREATE INDEX ix_VoucherGroup_Name ON t_VoucherGroup (FName);

CREATE TABLE t_SettleType (
  FItemID INTEGER PRIMARY KEY AUTOINCREMENT,
  FNumber TEXT,
  FName TEXT,
  FBrNo TEXT);
CREATE INDEX ix_SettleType_Number ON t_SettleType (FNumber);
CREATE INDEX ix_SettleType_Name ON t_SettleType (FName);

CREATE TABLE t_MeasureUnitGroup (
  FGroupID INTEGER PRIMARY KEY AUTOINCREMENT,
  FName TEXT,
  FDefaultUnitID INTEGER NOT NULL DEFAULT 0);
CREATE INDEX ix_MeasureUnitGroup_Name ON t_MeasureUnitGroup (FName);

CREATE TABLE t_MeasureUnit (
  FMeasureUnitID INTEGER PRIMARY KEY AUTOINCREMENT,
  FUnitGroupID INTEGER NOT NULL DEFAULT 0,
  FNumber TEXT,
  FName TEXT NOT NULL,
  FCoefficient REAL,
  FAuxClass TEXT);
CREATE UNIQUE INDEX ix_MeasureUnit_GroupName ON t_MeasureUnit (FUnitGroupID, FName);
CREATE INDEX ix_MeasureUnit_Number ON t_MeasureUnit (FNumber);
)SQL";

const char* const kCountedV1[][2] = {
    {"t_AccountGroup", ""}, {"t_Account", ""},          {"t_Currency", ""},
    {"t_VoucherGroup", ""}, {"t_SettleType", ""},       {"t_MeasureUnitGroup", ""},
    {"t_MeasureUnit", "FUnitGroupID"},
};

}  // namespace

void CreateCoreSchema(LedgerStore& store) {
  store.Exec(kCoreV1);
  for (const auto& t : kCountedV1) store.CreateCountTriggers(t[0], t[1]);
  store.StampVersion(kLedgerSchemaVersion);
  store.SetMeta("schema_version", std::to_string(kLedgerSchemaVersion));
}

void RefuseNewerLedger(LedgerStore& store, const std::string& storedVersion) {
  ThrowLedgerError("账套 " + store.Path() + " 的结构版本为 " + storedVersion + "，高于本程序支持的版本 " +
                   std::to_string(kLedgerSchemaVersion) + "，无法打开");
}

void RefuseOlderLedger(LedgerStore& store, int storedVersion) {
  ThrowLedgerError("账套 " + store.Path() + " 的结构版本为 " + std::to_string(storedVersion) +
                   "，需要先运行“morvent ledger upgrade " + store.Path() + "”升级到版本 " +
                   std::to_string(kLedgerSchemaVersion));
}

LedgerUpgrade UpgradeLedger(LedgerStore& store) {
  const std::string stored = store.Meta("schema_version");
  LedgerUpgrade done;
  done.to = kLedgerSchemaVersion;
  // The store opened it, so the version is digits and at least 1.
  if (stored.size() > 9 || std::stoi(stored) > kLedgerSchemaVersion) RefuseNewerLedger(store, stored);
  done.from = std::stoi(stored);
  if (done.from == kLedgerSchemaVersion) return done;
  // Each later version adds one step here, all of them in the one write.
  store.Write([&] {
    if (done.from < 2) {
      // A server ledger's count triggers went from rows to statements,
      // with a pending table of the connection the row triggers cannot use.
      if (store.OnServer())
        for (const auto& t : CountKeeper::Tables()) store.CreateCountTriggers(t.table, t.scopeColumn);
      const ItemValuesMoved moved = MoveItemValuesIntoItems(store);
      done.items = moved.items;
      done.fields = moved.fields;
      done.orphans = moved.orphans;
    }
    store.StampVersion(kLedgerSchemaVersion);
    store.SetMeta("schema_version", std::to_string(kLedgerSchemaVersion));
  });
  return done;
}

}  // namespace morvent
