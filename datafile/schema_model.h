#pragma once
// What the reader needs to know of a data file's shape, taken from the
// schema file itself: for each element, whether it holds text, a nested
// record (its keys as children) or a collection (one <Record> per record).
// Only that distinction is derived here; checking the file against the
// schema is libxml2's validator's job.
#include <libxml/tree.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace morvent::xml {

struct ShapeNode {
  enum class Kind { Leaf, Record, Collection };
  Kind kind = Kind::Leaf;
  // Record: the declared keys; Collection: the one entry "Record".
  std::map<std::string, const ShapeNode*, std::less<>> children;

  const ShapeNode* Child(std::string_view name) const {
    auto it = children.find(name);
    return it == children.end() ? nullptr : it->second;
  }
};

// A schema the model cannot use (a reference to an undeclared type, a
// collection of plain texts, no declaration of the list root ...).
class ShapeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class DataFileShape {
 public:
  // Walks the schema document's declarations. `elementName` is the record
  // element; the root is elementName + "List". Raises ShapeError.
  DataFileShape(xmlDoc* schemaDoc, const std::string& elementName);
  DataFileShape(const DataFileShape&) = delete;
  DataFileShape& operator=(const DataFileShape&) = delete;

  const std::string& RootName() const { return rootName_; }
  // The shape of one top-level record (always Kind::Record).
  const ShapeNode& RecordShape() const { return *record_; }
  // The names of elements that hold elements only wherever they stand: the
  // root, the record and nested records and collections (a name that is
  // text somewhere is left out).
  std::vector<std::string> ElementOnlyNames() const;

 private:
  const ShapeNode* FromElement(xmlNode* decl);
  const ShapeNode* FromComplexType(xmlNode* type);
  void CollectElements(xmlNode* group, std::vector<xmlNode*>& out);

  std::string rootName_, recordName_;
  std::map<std::string, xmlNode*, std::less<>> namedComplex_, namedSimple_, globalElements_;
  std::map<xmlNode*, ShapeNode*> built_;
  std::vector<std::unique_ptr<ShapeNode>> nodes_;
  const ShapeNode* leaf_ = nullptr;
  const ShapeNode* record_ = nullptr;
};

}  // namespace morvent::xml
