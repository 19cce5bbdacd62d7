#include "python/src/records.h"

#include <stdlib.h>

#include <cmath>
#include <filesystem>

#include "context/datafile.h"
#include "context/record.h"
#include "front/code_table.h"
#include "platform/error.h"
#include "platform/private_folder.h"
#include "platform/progdir.h"
#include "platform/registry.h"

namespace morvent::python {

namespace {

namespace fs = std::filesystem;

py::object ToPython(const Variant& v);

py::dict RecordToPython(const DataRecord& record) {
  py::dict d;
  for (size_t i = 0; i < record.Size(); ++i) d[py::str(record.KeyAt(i))] = ToPython(record.ValueAt(i));
  return d;
}

py::list CollectionToPython(const RecordCollection& records) {
  py::list list;
  for (int32_t i = records.LBound(); i <= records.UBound(); ++i) list.append(RecordToPython(*records.Item(i)));
  return list;
}

py::object ToPython(const Variant& v) {
  switch (v.Type()) {
    case VarType::Empty:
    case VarType::Null:
      return py::none();
    case VarType::String:
      return py::str(v.RawText());
    case VarType::Boolean:
      return py::bool_(v.RawBool());
    case VarType::Integer:
    case VarType::Long:
      return py::int_(v.ToLong());
    case VarType::Double:
      return py::float_(v.ToDouble());
    case VarType::Date:
      return py::str(v.ToText());
    case VarType::Object:
      if (auto r = v.As<DataRecord>()) return RecordToPython(*r);
      if (auto c = v.As<RecordCollection>()) return CollectionToPython(*c);
      return py::none();
  }
  return py::none();
}

// Python values to the library's, naming the record and key of any that
// cannot be written.
struct Converter {
  py::object date = py::module_::import("datetime").attr("date");
  py::object datetime = py::module_::import("datetime").attr("datetime");
  py::object decimal = py::module_::import("decimal").attr("Decimal");
  size_t index = 0;  // 1-based record being converted

  [[noreturn]] void Refuse(const std::string& key, const std::string& why) const {
    throw py::type_error("第 " + std::to_string(index) + " 条记录的键 " + key + "：" + why);
  }

  Variant Value(const std::string& key, const py::handle& v) const {
    if (v.is_none()) return Variant::Null();
    if (py::isinstance<py::bool_>(v)) return Variant(std::string(v.cast<bool>() ? "1" : "0"));
    if (py::isinstance<py::int_>(v) || py::isinstance(v, decimal)) return Variant(py::str(v).cast<std::string>());
    if (py::isinstance<py::float_>(v)) {
      const double d = v.cast<double>();
      if (!std::isfinite(d)) throw py::value_error("第 " + std::to_string(index) + " 条记录的键 " + key + "：" +
                                                   py::repr(v).cast<std::string>() + " 不是可以写入的数");
      return Variant(d);
    }
    if (py::isinstance<py::str>(v)) return Variant(v.cast<std::string>());
    if (py::isinstance(v, datetime))
      return Variant(MakeDate(v.attr("year").cast<int>(), v.attr("month").cast<int>(), v.attr("day").cast<int>(),
                              v.attr("hour").cast<int>(), v.attr("minute").cast<int>(), v.attr("second").cast<int>()));
    if (py::isinstance(v, date))
      return Variant(MakeDate(v.attr("year").cast<int>(), v.attr("month").cast<int>(), v.attr("day").cast<int>()));
    if (py::isinstance<py::dict>(v)) return Variant(Record(v, key + "/"));
    if (py::isinstance<py::list>(v) || py::isinstance<py::tuple>(v)) {
      auto list = std::make_shared<RecordCollection>();
      for (const py::handle& item : v) {
        if (!py::isinstance<py::dict>(item)) Refuse(key, "列表中只能是记录（dict）");
        list->Add(Record(item, key + "/Record/"));
      }
      return Variant(list);
    }
    Refuse(key, "不能写入 " + py::str(py::type::of(v).attr("__name__")).cast<std::string>() + " 类型的值");
  }

  DataRecordPtr Record(const py::handle& d, const std::string& path) const {
    auto record = NewRecord();
    for (const auto& [k, v] : d.cast<py::dict>()) {
      if (!py::isinstance<py::str>(k)) Refuse(path + py::repr(k).cast<std::string>(), "键必须是文本");
      const std::string key = k.cast<std::string>();
      record->SetValue(key, Value(path + key, v));
    }
    return record;
  }
};

const BaseType& Kind(int32_t code) {
  const BaseType* type = FindBaseType(code);
  if (!type) throw py::value_error(std::to_string(code) + " 不是已分配的基础资料代码");
  return *type;
}

std::string Schema(const BaseType& type) {
  const std::string schema = SchemaFilePath(type.schemaFile);
  if (!FileExist(schema)) {
    PyErr_SetString(PyExc_FileNotFoundError, MissingSchemaText(type.schemaFile, schema).c_str());
    throw py::error_already_set();
  }
  return schema;
}

// Every occurrence of from in text replaced by to.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); !from.empty() && at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

}  // namespace

py::list ReadRecords(const std::string& path, int32_t code) {
  const BaseType& type = Kind(code);
  const std::string schema = Schema(type);
  RecordCollectionPtr records;
  std::string refusal;
  {
    py::gil_scoped_release release;
    EnsureComponentsRegistered();
    CreateObjectAs<DataFileReader>(kReaderProgId)->InputXML(records, path, schema, type.element, refusal);
  }
  if (!refusal.empty()) throw py::value_error(refusal);
  return CollectionToPython(*records);
}

int64_t WriteRecords(const std::string& path, int32_t code, const py::handle& records) {
  const BaseType& type = Kind(code);
  const std::string schema = Schema(type);
  if (py::isinstance<py::str>(records) || py::isinstance<py::dict>(records) || !py::hasattr(records, "__iter__"))
    throw py::type_error("records 应为记录（dict）的列表");
  auto collection = std::make_shared<RecordCollection>();
  Converter convert;
  for (const py::handle& item : records) {
    ++convert.index;
    if (!py::isinstance<py::dict>(item)) throw py::type_error("第 " + std::to_string(convert.index) + " 条记录不是 dict");
    collection->Add(convert.Record(item, ""));
  }
  std::string refusal;
  {
    py::gil_scoped_release release;
    EnsureComponentsRegistered();
    PrivateFolder trial("morvent-py-");
    if (trial.path().empty()) throw Error(kErrFile, "morvent", "无法创建临时文件夹：" + fs::temp_directory_path().string());
    const std::string copy = trial.file(type.element + ".xml");
    std::string errorText;
    try {
      CreateObjectAs<DataFileWriter>(kWriterProgId)->OutputXML(collection, copy, schema, type.element, errorText);
      RecordCollectionPtr back;
      CreateObjectAs<DataFileReader>(kReaderProgId)->InputXML(back, copy, schema, type.element, refusal);
    } catch (const Error& e) {
      // A value XML cannot hold: the script's data, said of its own file.
      if (e.Number() != kErrDataFile) throw;
      refusal = e.Description();
    }
    refusal = Replaced(refusal, copy, path);
    if (refusal.empty()) CreateObjectAs<DataFileWriter>(kWriterProgId)->OutputXML(collection, path, schema, type.element, errorText);
  }
  if (!refusal.empty()) throw py::value_error(refusal);
  return collection->UBound();
}

}  // namespace morvent::python
