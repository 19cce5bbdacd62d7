// Registers the data-file writer and reader by their programmatic names.
#include "platform/registry.h"
#include "datafile/xml_reader.h"
#include "datafile/xml_writer.h"

namespace morvent {

void RegisterDataFileComponents() {
  RegisterFactory(kWriterProgId, [] { return std::make_shared<XmlDataFileWriter>(); });
  RegisterFactory(kReaderProgId, [] { return std::make_shared<XmlDataFileReader>(); });
}

}  // namespace morvent
