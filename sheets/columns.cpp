#include "sheets/columns.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "platform/progdir.h"

namespace morvent::sheets {

namespace {

struct Meaning {
  const char* words;
  const char* type;
};

// What a user reads above a column. A key not listed is shown by its name.
const std::map<std::string_view, Meaning>& Meanings() {
  static const std::map<std::string_view, Meaning> m = {
      {"Number", {"代码", "代码"}},          {"Name", {"名称", "文本"}},
      {"ShortName", {"简称", "文本"}},       {"HelperCode", {"助记码", "代码"}},
      {"CompanyCode", {"分支机构代码", "代码"}}, {"ParentNumber", {"上级代码", "代码"}},
      {"ParentAcct", {"上级科目代码", "代码"}}, {"ParentName", {"上级名称", "文本"}},
      {"Address", {"地址", "文本"}},         {"Phone", {"电话", "文本"}},
      {"Fax", {"传真", "文本"}},             {"PostalCode", {"邮编", "代码"}},
      {"Email", {"电子邮件", "文本"}},       {"Bank", {"开户银行", "文本"}},
      {"Account", {"银行账号", "代码"}},     {"BankAccount", {"银行账号", "代码"}},
      {"TaxNum", {"税务登记号", "代码"}},    {"City", {"城市", "文本"}},
      {"Province", {"省份", "文本"}},        {"Country", {"国家", "文本"}},
      {"HomePage", {"主页", "文本"}},        {"LinkMan", {"联系人", "文本"}},
      {"Contact", {"联系人", "文本"}},       {"CIQNumber", {"海关代码", "代码"}},
      {"CreditDays", {"信用期限（天）", "数字"}}, {"CreditAmount", {"信用金额", "数字"}},
      {"CreditLevel", {"信用等级", "文本"}}, {"CreditLimit", {"信用额度", "数字"}},
      {"ExchangeRate", {"汇率", "数字"}},    {"Operator", {"折算方式（* 或 /）", "文本"}},
      {"Scale", {"小数位数", "数字"}},       {"Note", {"备注", "文本"}},
      {"Gender", {"性别", "文本"}},          {"Birthday", {"出生日期", "日期"}},
      {"HireDate", {"入职日期", "日期"}},    {"LeaveDate", {"离职日期", "日期"}},
      {"Duty", {"职务", "文本"}},            {"Degree", {"学历", "文本"}},
      {"Manager", {"负责人", "文本"}},       {"Model", {"规格型号", "文本"}},
      {"TaxRate", {"税率", "数字"}},         {"SalePrice", {"销售单价", "数字"}},
      {"PlanPrice", {"计划单价", "数字"}},   {"HighLimit", {"最高存量", "数字"}},
      {"LowLimit", {"最低存量", "数字"}},    {"SecInv", {"安全库存", "数字"}},
      {"Coefficient", {"换算率", "数字"}},   {"QtyDecimal", {"数量精度", "数字"}},
      {"PriceDecimal", {"单价精度", "数字"}}, {"LeadTime", {"提前期", "数字"}},
      {"IsBank", {"银行科目", "0/1"}},       {"IsCash", {"现金科目", "0/1"}},
      {"IsCashFlow", {"现金流量科目", "0/1"}}, {"IsDebit", {"借方科目", "0/1"}},
      {"IsDetail", {"明细", "0/1"}},         {"IsBatch", {"批次管理", "0/1"}},
      {"IsKeepTime", {"保质期管理", "0/1"}}, {"IsSpecialTax", {"特殊税率", "0/1"}},
      {"IsStockTime", {"库存时间管理", "0/1"}}, {"Journal", {"日记账", "0/1"}},
      {"Quantities", {"数量核算", "0/1"}},   {"Level", {"级次", "数字"}},
      {"ID", {"内码", "数字"}},
  };
  return m;
}

bool IsXsd(xmlNode* n, const char* local) {
  return n->type == XML_ELEMENT_NODE && n->ns && xmlStrEqual(n->ns->href, BAD_CAST "http://www.w3.org/2001/XMLSchema") &&
         xmlStrEqual(n->name, BAD_CAST local);
}

std::string Attr(xmlNode* n, const char* name) {
  xmlChar* v = xmlGetProp(n, BAD_CAST name);
  if (!v) return {};
  std::string s(reinterpret_cast<const char*>(v));
  xmlFree(v);
  return s;
}

std::string LocalName(const std::string& qname) {
  auto colon = qname.find(':');
  return colon == std::string::npos ? qname : qname.substr(colon + 1);
}

class Walker {
 public:
  explicit Walker(xmlDoc* doc) {
    for (xmlNode* n = xmlDocGetRootElement(doc)->children; n; n = n->next) {
      if (IsXsd(n, "complexType")) types_[Attr(n, "name")] = n;
      if (IsXsd(n, "element")) elements_[Attr(n, "name")] = n;
    }
  }

  // The element declarations of a complex type in document order, through
  // sequence / all / choice groups.
  void Elements(xmlNode* type, std::vector<xmlNode*>& out) const {
    for (xmlNode* n = type ? type->children : nullptr; n; n = n->next) {
      if (IsXsd(n, "element")) out.push_back(n);
      else if (IsXsd(n, "sequence") || IsXsd(n, "all") || IsXsd(n, "choice")) Elements(n, out);
    }
  }

  // The complex type of an element declaration, named or inline; null for text.
  xmlNode* TypeOf(xmlNode* element) const {
    for (xmlNode* n = element->children; n; n = n->next)
      if (IsXsd(n, "complexType")) return n;
    auto it = types_.find(LocalName(Attr(element, "type")));
    return it == types_.end() ? nullptr : it->second;
  }

  void Columns(xmlNode* type, std::vector<std::string>& path, std::vector<Column>& out, int depth) const {
    std::vector<xmlNode*> elements;
    Elements(type, elements);
    for (xmlNode* e : elements) {
      path.push_back(Attr(e, "name"));
      xmlNode* t = TypeOf(e);
      std::vector<xmlNode*> inner;
      Elements(t, inner);
      const bool collection = inner.size() == 1 && Attr(inner[0], "name") == "Record";
      // A record referring to its own kind (a parent) stops after one level.
      if (t && !collection && depth < 2) {
        Columns(t, path, out, depth + 1);
      } else if (t && !collection) {
        // deeper than a spreadsheet row can sensibly hold: left out
      } else {
        Column c;
        c.path = path;
        for (const auto& k : path) c.header += (c.header.empty() ? "" : ".") + k;
        c.collection = collection;
        auto m = Meanings().find(path.back());
        c.meaning = m != Meanings().end() ? m->second.words : path.back();
        c.type = collection ? "JSON" : m != Meanings().end() ? m->second.type : "文本";
        if (path.size() > 1) c.meaning = c.header.substr(0, c.header.rfind('.')) + " 的" + c.meaning;
        c.required = path.size() == 1 && (path[0] == "Number" || path[0] == "Name");
        out.push_back(std::move(c));
      }
      path.pop_back();
    }
  }

  xmlNode* RecordType(const std::string& elementName) const {
    auto root = elements_.find(elementName + "List");
    if (root == elements_.end()) return nullptr;
    std::vector<xmlNode*> inner;
    Elements(TypeOf(root->second), inner);
    for (xmlNode* e : inner)
      if (Attr(e, "name") == elementName) return TypeOf(e);
    return nullptr;
  }

 private:
  std::map<std::string, xmlNode*> types_, elements_;
};

}  // namespace

std::string Column::Description() const {
  return meaning + " | " + type + (required ? " | 必填" : "");
}

std::vector<Column> ColumnsOf(const std::string& schemaPath, const std::string& elementName) {
  std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
      xmlReadFile(schemaPath.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING), &xmlFreeDoc);
  if (!doc || !xmlDocGetRootElement(doc.get())) throw std::runtime_error("无法读取接口定义文件 " + schemaPath);
  Walker w(doc.get());
  xmlNode* type = w.RecordType(elementName);
  if (!type) throw std::runtime_error("接口定义文件 " + schemaPath + " 中没有记录元素 " + elementName);
  std::vector<Column> out;
  std::vector<std::string> path;
  w.Columns(type, path, out, 0);
  return out;
}

std::string ColumnLetter(size_t index) {
  std::string s;
  for (size_t n = index + 1; n > 0; n = (n - 1) / 26) s.insert(s.begin(), static_cast<char>('A' + (n - 1) % 26));
  return s;
}

std::string CellName(long row, size_t column, const std::string& header) {
  return "第 " + std::to_string(row) + " 行 " + ColumnLetter(column) + " 列（" + header + "）";
}

}  // namespace morvent::sheets
