#include "datafile/schema_model.h"

#include <cstring>
#include <set>

namespace morvent::xml {

namespace {

constexpr const char* kXsd = "http://www.w3.org/2001/XMLSchema";

bool IsXsd(xmlNode* n, const char* local) {
  return n && n->type == XML_ELEMENT_NODE && n->ns && n->ns->href &&
         std::strcmp(reinterpret_cast<const char*>(n->ns->href), kXsd) == 0 &&
         std::strcmp(reinterpret_cast<const char*>(n->name), local) == 0;
}

std::string Attr(xmlNode* n, const char* name) {
  xmlChar* v = xmlGetNoNsProp(n, reinterpret_cast<const xmlChar*>(name));
  if (!v) return {};
  std::string s(reinterpret_cast<const char*>(v));
  xmlFree(v);
  return s;
}

// Splits "prefix:local" and tells whether the prefix names the XSD namespace.
std::string LocalName(xmlNode* context, const std::string& qname, bool& inXsd) {
  auto colon = qname.find(':');
  std::string prefix = colon == std::string::npos ? "" : qname.substr(0, colon);
  xmlNs* ns = xmlSearchNs(context->doc, context,
                          prefix.empty() ? nullptr : reinterpret_cast<const xmlChar*>(prefix.c_str()));
  inXsd = ns && ns->href && std::strcmp(reinterpret_cast<const char*>(ns->href), kXsd) == 0;
  return colon == std::string::npos ? qname : qname.substr(colon + 1);
}

bool Repeats(xmlNode* decl) {
  std::string max = Attr(decl, "maxOccurs");
  return max == "unbounded" || (!max.empty() && std::strtol(max.c_str(), nullptr, 10) > 1);
}

}  // namespace

DataFileShape::DataFileShape(xmlDoc* schemaDoc, const std::string& elementName) : rootName_(elementName + "List"), recordName_(elementName) {
  xmlNode* schema = schemaDoc ? xmlDocGetRootElement(schemaDoc) : nullptr;
  if (!IsXsd(schema, "schema")) throw ShapeError("不是 XML Schema 文件");
  for (xmlNode* n = schema->children; n; n = n->next) {
    std::string name = Attr(n, "name");
    if (IsXsd(n, "complexType")) namedComplex_[name] = n;
    else if (IsXsd(n, "simpleType")) namedSimple_[name] = n;
    else if (IsXsd(n, "element")) globalElements_[name] = n;
    // A schema file must stand alone: nothing is loaded from elsewhere.
    else if (IsXsd(n, "include") || IsXsd(n, "import") || IsXsd(n, "redefine"))
      throw ShapeError("不接受引用其他文件的 xs:" + std::string(reinterpret_cast<const char*>(n->name)));
  }
  auto leaf = std::make_unique<ShapeNode>();
  leaf_ = leaf.get();
  nodes_.push_back(std::move(leaf));

  auto root = globalElements_.find(rootName_);
  if (root == globalElements_.end()) throw ShapeError("没有元素 " + rootName_ + " 的定义");
  const ShapeNode* list = FromElement(root->second);
  const ShapeNode* record = list->kind == ShapeNode::Kind::Record ? list->Child(elementName) : nullptr;
  if (!record || record->kind != ShapeNode::Kind::Record)
    throw ShapeError("元素 " + rootName_ + " 中没有记录元素 " + elementName + " 的定义");
  record_ = record;
}

const ShapeNode* DataFileShape::FromElement(xmlNode* decl) {
  std::string ref = Attr(decl, "ref");
  if (!ref.empty()) {
    bool inXsd;
    auto it = globalElements_.find(LocalName(decl, ref, inXsd));
    if (it == globalElements_.end()) throw ShapeError("引用了未定义的元素 " + ref);
    return FromElement(it->second);
  }
  std::string type = Attr(decl, "type");
  if (!type.empty()) {
    bool inXsd;
    std::string local = LocalName(decl, type, inXsd);
    if (inXsd) return leaf_;  // a built-in simple type
    if (auto it = namedComplex_.find(local); it != namedComplex_.end()) return FromComplexType(it->second);
    if (namedSimple_.count(local)) return leaf_;
    throw ShapeError("引用了未定义的类型 " + type);
  }
  for (xmlNode* c = decl->children; c; c = c->next)
    if (IsXsd(c, "complexType")) return FromComplexType(c);
  return leaf_;  // an inline simple type, or none (any text)
}

void DataFileShape::CollectElements(xmlNode* group, std::vector<xmlNode*>& out) {
  for (xmlNode* c = group->children; c; c = c->next) {
    if (IsXsd(c, "element")) out.push_back(c);
    else if (IsXsd(c, "sequence") || IsXsd(c, "choice") || IsXsd(c, "all")) CollectElements(c, out);
  }
}

const ShapeNode* DataFileShape::FromComplexType(xmlNode* type) {
  if (auto it = built_.find(type); it != built_.end()) return it->second;
  xmlNode* group = nullptr;
  for (xmlNode* c = type->children; c; c = c->next) {
    if (IsXsd(c, "simpleContent")) return leaf_;
    if (IsXsd(c, "sequence") || IsXsd(c, "choice") || IsXsd(c, "all")) group = c;
    if (IsXsd(c, "complexContent")) throw ShapeError("不支持由派生定义的类型 " + Attr(type, "name"));
  }
  // Registered before its children so that a type may contain itself.
  auto node = std::make_unique<ShapeNode>();
  ShapeNode* self = node.get();
  nodes_.push_back(std::move(node));
  built_[type] = self;
  self->kind = ShapeNode::Kind::Record;
  if (!group) return self;

  std::vector<xmlNode*> decls;
  CollectElements(group, decls);
  if (decls.size() == 1 && Attr(decls[0], "name") == "Record" && Repeats(decls[0])) {
    const ShapeNode* item = FromElement(decls[0]);
    if (item->kind == ShapeNode::Kind::Leaf)
      throw ShapeError("类型 " + Attr(type, "name") + " 的 Record 必须是记录，不能是文本");
    self->kind = ShapeNode::Kind::Collection;
    self->children["Record"] = item;
    return self;
  }
  for (xmlNode* d : decls) {
    std::string name = Attr(d, "name");
    if (name.empty()) {
      bool inXsd;
      name = LocalName(d, Attr(d, "ref"), inXsd);
    }
    self->children[name] = FromElement(d);
  }
  return self;
}

std::vector<std::string> DataFileShape::ElementOnlyNames() const {
  std::set<std::string, std::less<>> nested, text;
  std::set<const ShapeNode*> seen;
  std::vector<const ShapeNode*> todo{record_};
  while (!todo.empty()) {
    const ShapeNode* n = todo.back();
    todo.pop_back();
    if (!seen.insert(n).second) continue;
    for (const auto& [name, child] : n->children) {
      (child->kind == ShapeNode::Kind::Leaf ? text : nested).insert(name);
      todo.push_back(child);
    }
  }
  std::vector<std::string> out;
  nested.insert(rootName_);
  nested.insert(recordName_);
  for (const auto& name : nested)
    if (!text.contains(name)) out.push_back(name);
  return out;
}

}  // namespace morvent::xml
