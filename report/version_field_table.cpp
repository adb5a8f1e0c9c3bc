#include "report/version_field_table.h"

const VersionField VersionFieldTable[kVersionFieldCount] = {
    {{"CompanyName", "\x89\xef\x8e\xd0\x96\xbc", ""}},
    {{"FileDescription", "\x90\xe0\x96\xbe", ""}},
    {{"FileVersion", "\x83t\x83@\x83\x43\x83\x8b\x83o\x81[\x83W\x83\x87\x83\x93", ""}},
    {{"InternalName", "\x93\xe0\x95\x94\x96\xbc", ""}},
    {{"LegalCopyright", "\x92\x98\x8d\xec\x8c\xa0", ""}},
    {{"OriginalFilename", "\x90\xb3\x8e\xae\x83t\x83@\x83\x43\x83\x8b\x96\xbc", ""}},
    {{"ProductName", "\x90\xbb\x95i\x96\xbc", ""}},
    {{"ProductVersion", "\x90\xbb\x95i\x83o\x81[\x83W\x83\x87\x83\x93", ""}},
};
