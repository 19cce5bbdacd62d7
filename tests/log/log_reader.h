#pragma once
// Reads the exchange log back the way any XML consumer would, so the tests
// judge the file and not the writer's own idea of it.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace morvent::test {

struct LogElement {
  // Attribute names and values in document order.
  std::vector<std::pair<std::string, std::string>> attributes;
  std::string Attr(const std::string& name) const {
    for (const auto& [k, v] : attributes)
      if (k == name) return v;
    throw std::runtime_error("no attribute " + name);
  }
};

struct ParsedLog {
  std::string rootName;
  bool rootIsFirstNode = false;
  std::string declaredEncoding;
  std::vector<LogElement> entries;
  std::vector<std::string> otherChildren;  // anything in the root but ErrLog
};

inline ParsedLog ParseLog(const std::string& path) {
  xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOBLANKS);
  if (!doc) throw std::runtime_error("log does not parse: " + path);
  ParsedLog log;
  if (doc->encoding) log.declaredEncoding = reinterpret_cast<const char*>(doc->encoding);
  xmlNodePtr root = xmlDocGetRootElement(doc);
  log.rootIsFirstNode = root && doc->children == root;
  if (root) log.rootName = reinterpret_cast<const char*>(root->name);
  for (xmlNodePtr n = root ? root->children : nullptr; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE || xmlStrcmp(n->name, BAD_CAST "ErrLog") != 0) {
      log.otherChildren.push_back(n->name ? reinterpret_cast<const char*>(n->name) : "?");
      continue;
    }
    LogElement e;
    for (xmlAttrPtr a = n->properties; a; a = a->next) {
      xmlChar* v = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a));
      e.attributes.emplace_back(reinterpret_cast<const char*>(a->name), v ? reinterpret_cast<const char*>(v) : "");
      xmlFree(v);
    }
    log.entries.push_back(std::move(e));
  }
  xmlFreeDoc(doc);
  return log;
}

}  // namespace morvent::test
