#include "sections.h"
#include "sys/ini_file.h"

#include <cstdio>
#include <fstream>
#include <filesystem>

namespace {

constexpr const char* kListSection = "Extensions";
constexpr const char* kListKey = "AddIns";
constexpr const char* kLongSection = "Settings";
constexpr const char* kLongKey = "Long";
constexpr const wchar_t* kAddedItem = L"added-item";
constexpr const wchar_t* kDelimiter = L";";
constexpr size_t kReadGrowth = 260;  // ReadValue's buffer grows by this much a try
constexpr double kFlatLimit = 1.5;
constexpr double kMicroseconds = 1e6;

std::string Item(size_t index) {
    char item[32];
    std::snprintf(item, sizeof(item), "item%06zu", index);
    return item;
}

void WriteIni(const std::wstring& path, const char* section, const char* key, const std::string& value) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    out << "[" << section << "]\r\n" << key << "=" << value << "\r\n";
}

std::wstring Wide(const char* text) { return std::wstring(text, text + std::char_traits<char>::length(text)); }

// Per item, less one ReadValue of the same value: what the operation adds to the read
// whose growth is fixed by design. Each operation reads a file that was just written, and
// Wine reads such a file more slowly, so the read taken off is one made right after a write.
const Figure& AddWithoutRead(Report& report, const std::string& id, size_t items,
                             const std::vector<double>& seconds, double readSeconds) {
    Figure figure{id, "us/item", {}, "less the median ReadValue of the list right after a write"};
    for (const double s : seconds)
        figure.values.push_back((s - readSeconds) * kMicroseconds / static_cast<double>(items));
    return report.Add(std::move(figure));
}

// The whole operation per item, ReadValue's fixed growth included: reported, not a target.
void SayGrowth(Report& report, const std::string& what, const std::vector<const Figure*>& bySize) {
    if (bySize.size() < 2) return;
    const Figure& smallest = *bySize.front();
    const Figure& largest = *bySize.back();
    report.Say(Format("  %s per item: %.3f us at %s, %.3f us at %s (ReadValue's fixed growth included)", what.c_str(),
                      largest.Median(), largest.id.c_str(), smallest.Median(), smallest.id.c_str()));
}

}  // namespace

void MeasureIni(Report& report, const Plan& plan, const std::wstring& root) {
    report.Say("== INI module: list values and long values");
    const ScratchFolder folder(Join(root, L"ini"));
    const std::wstring section = Wide(kListSection);
    const std::wstring key = Wide(kListKey);

    std::vector<const Figure*> add, remove, get, addRest, removeRest, getRest, split;
    for (const Size& size : plan.iniItems) {
        const std::wstring file = folder / (L"list-" + std::to_wstring(size.count) + L".ini");
        std::string value;
        for (size_t i = 0; i < size.count; ++i) value += (i ? ";" : "") + Item(i);
        WriteIni(file, kListSection, kListKey, value);

        const std::wstring wideValue(value.begin(), value.end());
        std::vector<double> addTimes, removeTimes, getTimes, readTimes, splitTimes, writeTimes, readAfterWriteTimes;
        for (int round = FirstRound(size.warmUp()); round < size.repeats; ++round) {
            const bool timed = IsTimed(round);
            const auto time = [&](std::vector<double>& into, const char* what, auto&& action) {
                DWORD result = 0;
                const double s = SecondsOf([&] { result = action(); });
                Expect(report, what, result, 0);
                if (timed) into.push_back(s);
            };
            time(addTimes, "AddValue", [&] { return sys::IniFile::AddValue(file, section, key, kAddedItem, kDelimiter); });
            time(removeTimes, "RemoveValue",
                 [&] { return sys::IniFile::RemoveValue(file, section, key, kAddedItem, kDelimiter); });
            std::vector<std::wstring> items;
            time(getTimes, "GetValues", [&] { return sys::IniFile::GetValues(file, section, key, kDelimiter, items); });
            if (items.size() != size.count) report.Say("WARNING GetValues read another number of items");
            std::wstring read;
            time(readTimes, "ReadValue", [&] { return sys::IniFile::ReadValue(file, section, key, read); });
            if (read.size() != value.size()) report.Say("WARNING ReadValue read another length");
            // What the operations do besides their read: split the value (ours), write a
            // changed value of the same length (Wine's, the floor of AddValue's write), and
            // read the file again right after that write (Wine's cache reloads it).
            time(splitTimes, "SplitValue", [&] {
                std::vector<std::wstring> parts;
                sys::IniFile::SplitValue(wideValue, kDelimiter, parts);
                return parts.size() == size.count ? ERROR_SUCCESS : ERROR_INVALID_DATA;
            });
            const auto write = [&](const std::wstring& text) -> DWORD {
                return WritePrivateProfileStringW(section.c_str(), key.c_str(), text.c_str(), file.c_str())
                           ? ERROR_SUCCESS
                           : GetLastError();
            };
            time(writeTimes, "floor write", [&] { return write(wideValue + kDelimiter + kAddedItem); });
            time(readAfterWriteTimes, "ReadValue after a write",
                 [&] { return sys::IniFile::ReadValue(file, section, key, read); });
            Expect(report, "restoring the list", write(wideValue), 0);
        }
        const double n = static_cast<double>(size.count);
        const auto id = [&](const char* what) { return Format("ini.%s.%zu-items", what, size.count); };
        add.push_back(&report.AddMicrosecondsPer(id("AddValue"), "item", n, addTimes));
        remove.push_back(&report.AddMicrosecondsPer(id("RemoveValue"), "item", n, removeTimes));
        get.push_back(&report.AddMicrosecondsPer(id("GetValues"), "item", n, getTimes));
        report.AddMilliseconds(id("ReadValue-of-the-list"), readTimes, Format("%zu characters", value.size()));
        report.AddMicrosecondsPer(id("floor-write"), "item", n, writeTimes,
                                  "WritePrivateProfileStringW of the list with one item more");
        const Figure& readAfterWrite = report.AddMilliseconds(id("ReadValue-after-a-write"), readAfterWriteTimes,
                                                              "the same read right after the file was written");
        const double readSeconds = readAfterWrite.Median() / 1e3;
        addRest.push_back(&AddWithoutRead(report, id("AddValue-less-read"), size.count, addTimes, readSeconds));
        removeRest.push_back(&AddWithoutRead(report, id("RemoveValue-less-read"), size.count, removeTimes, readSeconds));
        getRest.push_back(&AddWithoutRead(report, id("GetValues-less-read"), size.count, getTimes, readSeconds));
        split.push_back(&report.AddMicrosecondsPer(id("SplitValue"), "item", n, splitTimes));
    }
    SayGrowth(report, "AddValue", add);
    SayGrowth(report, "RemoveValue", remove);
    SayGrowth(report, "GetValues", get);
    CheckFlat(report, "AddValue per item, less its read, flat", addRest, kFlatLimit);
    CheckFlat(report, "RemoveValue per item, less its read, flat", removeRest, kFlatLimit);
    CheckFlat(report, "GetValues per item, less its read, flat", getRest, kFlatLimit);
    CheckFlat(report, "SplitValue per item flat", split, kFlatLimit);

    const std::wstring longSection = Wide(kLongSection);
    const std::wstring longKey = Wide(kLongKey);
    for (const Size& size : plan.iniValueLengths) {
        const std::wstring file = folder / (L"long-" + std::to_wstring(size.count) + L".ini");
        std::string value(size.count, '\0');
        for (size_t i = 0; i < size.count; ++i) value[i] = static_cast<char>('a' + i % 26);
        WriteIni(file, kLongSection, kLongKey, value);
        std::vector<double> times;
        for (int round = FirstRound(size.warmUp()); round < size.repeats; ++round) {
            std::wstring read;
            const double s = SecondsOf([&] { sys::IniFile::ReadValue(file, longSection, longKey, read); });
            if (read.size() != size.count) report.Say("WARNING ReadValue read another length");
            if (IsTimed(round)) times.push_back(s);
        }
        report.AddMilliseconds(Format("ini.ReadValue.%zu-chars", size.count), times,
                               Format("%zu reads of the value: the buffer grows by %zu characters a try",
                                      size.count / kReadGrowth + 1, kReadGrowth));
    }
}
