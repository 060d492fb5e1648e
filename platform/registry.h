#pragma once
// The current user's registry, kept in one text file (see registryFilePath).
// The four calls stand for the key/value operations the settings code needs:
// open or create a key, read a value into a caller's buffer, write a value,
// close. They return 0 on success, else an errno-style code.
#include <QString>
#include <cstdint>

namespace platform {

enum : uint32_t { REG_NONE = 0, REG_SZ = 1, REG_BINARY = 3, REG_DWORD = 4 };

enum : long {
    kRegSuccess = 0,
    kRegNotFound = 2,   // ENOENT: no such value
    kRegMoreData = 34,  // ERANGE: the stored value is larger than the buffer
};

struct RegistryKey;
using HKEY = RegistryKey*;

// $VANTREL_REGISTRY when set, else $XDG_CONFIG_HOME/vantrel/registry.reg.
QString registryFilePath();

// Opens the HKEY_CURRENT_USER subkey `subKey` ("Software\\Kerbix\\Vantrel"),
// creating it in the file when missing.
long RegCreateKey(const QString& subKey, HKEY* result);
// Opens an existing subkey for reading; kRegNotFound when it is missing.
long RegOpenKey(const QString& subKey, HKEY* result);

// Reads value `name` into `data` (capacity *size bytes). On success *size is
// the stored size and *type the stored type. When the stored value is larger
// than the buffer, answers kRegMoreData with the needed size and leaves the
// buffer untouched. `type` may be null.
long RegQueryValue(HKEY key, const QString& name, uint32_t* type, void* data, uint32_t* size);

// Writes value `name` with the exact type and bytes given; the file is
// replaced atomically and every other key and value is kept.
long RegSetValue(HKEY key, const QString& name, uint32_t type, const void* data, uint32_t size);

long RegCloseKey(HKEY key);

} // namespace platform
