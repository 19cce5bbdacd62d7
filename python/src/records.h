#pragma once
// A data file's records as Python sees them: a list of dicts, keys in the
// file's order, nested records as dicts and nested lists as lists of dicts,
// values as text (None for xsi:nil). Reading and writing go through the
// library's reader and writer; the lock is released while they work.
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

namespace morvent::python {

namespace py = pybind11;

// The file's records, read and checked against the kind's schema. A file
// the reader refuses raises ValueError with the reader's words.
py::list ReadRecords(const std::string& path, int32_t code);

// Writes the records as the kind's data file. They are checked against the
// schema first, by reading back a copy written in a private folder, so that
// a refused list leaves the target as it was (ValueError with the words of
// the reader or writer, naming the target; TypeError for a value of a type
// no data file holds). Values: str, int, float,
// bool (1 or 0), datetime.date / datetime.datetime, decimal.Decimal,
// None (nil); dicts and lists of dicts nest. Answers the number written.
int64_t WriteRecords(const std::string& path, int32_t code, const py::handle& records);

}  // namespace morvent::python
