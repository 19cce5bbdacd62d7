#pragma once
// The item side of the embedded ledger: item classes, items with their field
// catalogues, assist-data types and entries, and their services.
namespace morvent {

class LedgerStore;

// Registers "Corabin.ItemClassSet", "Corabin.ItemSet", "Corabin.SubMesTypeSet",
// "Corabin.SubMesSet", "VarnelItemClass.ItemClassInfo", "VarnelItem.ItemInfo".
void RegisterItemLedgerComponents();
// Tables of the item side, created with a new ledger.
void CreateItemSchema(LedgerStore& store);
// The standard item classes, their property descriptions and assist data.
void SeedItemMetadata(LedgerStore& store);
// Realistic items of every class for the demo ledger.
void FillDemoItems(LedgerStore& store);

}  // namespace morvent
