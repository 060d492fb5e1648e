// Any bytes as the settings file: parsing never crashes, and what it kept
// can be written out and read back.
#include "platform/registry_document.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > size_t(platform::RegistryDocument::kMaxFileSize))
        return 0;  // the program does not parse larger files
    const QByteArray content = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    int skipped = 0;
    const platform::RegistryDocument document = platform::RegistryDocument::parse(content, &skipped);
    const QByteArray written = document.serialize();
    platform::RegistryDocument::parse(written);
    return 0;
}
