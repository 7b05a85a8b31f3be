// How the registry settings are verified, value by value; the reference host's diagnosis
// judges the add-in key the same way.
#pragma once

#include "engine/records.h"
#include "sys/registry.h"

// The same name to the registry (letter case aside), the same type, and the data as the registry layer writes the entry: the same text
// for strings, the same number for a REG_DWORD given as decimal text.
bool MatchesExpectedValue(const RegistryValueEntry& expected,
                          const sys::Registry::RegistryValueData& actual);
