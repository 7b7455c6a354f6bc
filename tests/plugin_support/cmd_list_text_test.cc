// The text type of item names by system version: 'utxt' from 10.2 on, else
// 'itxt' (script code, language code, then the text in the system encoding
// with '?' for what it cannot hold). The system version is asked once per
// process, so every row runs in a child of its own, and nothing in this
// executable asks it outside a child.
#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/carbon_testing.h>

#include <bit>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cmd_list.h"
#include "frame_int.h"
#include "fs_test_util.h"

namespace {

// The expected bytes below are written for this machine's byte order.
static_assert(std::endian::native == std::endian::little);

// "type script language / hex of the text bytes" for the 'pnam' of an item
// named text, made in this process.
std::string NameOf(CFStringRef text) {
  MyCMXType *instance = AllocMyCMXType();
  MyCMCmdList *list = nullptr;
  if (!instance || MyCMCmdListCreate(nullptr, &list, instance) != noErr) return "<no list>";
  std::string out;
  if (MyCMCmdListAddItem(list, text, 1, 0, nullptr) != noErr) {
    out = "<not added>";
  } else {
    AEDesc record, name;
    AEInitializeDesc(&record);
    AEInitializeDesc(&name);
    AEGetNthDesc(MyCMCmdListGetCommandList(list), 1, typeAERecord, nullptr, &record);
    AEGetParamDesc(&record, keyAEName, typeWildCard, &name);
    std::vector<UInt8> bytes(static_cast<size_t>(AEGetDescDataSize(&name)));
    if (!bytes.empty()) AEGetDescData(&name, bytes.data(), static_cast<Size>(bytes.size()));
    const UInt32 type = name.descriptorType;
    out.assign({static_cast<char>(type >> 24), static_cast<char>(type >> 16),
                static_cast<char>(type >> 8), static_cast<char>(type)});
    size_t start = 0;
    if (type == typeIntlText && bytes.size() >= 4) {
      ScriptCode script;
      LangCode language;
      std::memcpy(&script, bytes.data(), sizeof script);
      std::memcpy(&language, bytes.data() + 2, sizeof language);
      out += " " + std::to_string(script) + " " + std::to_string(language);
      start = 4;
    }
    out += " /";
    for (size_t i = start; i < bytes.size(); ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
      out += hex;
    }
    AEDisposeDesc(&name);
    AEDisposeDesc(&record);
  }
  MyCMCmdListDispose(list);
  DeallocMyCMXType(instance);
  return out;
}

struct TextCase {
  const char *name;
  SInt32 version;
  OSErr gestaltResult;
  const char *locale;
  const char *utf8; // the item's text
  std::string expected;
};

void PrintTo(const TextCase &row, std::ostream *os) {
  *os << row.name;
}

class NameText : public ::testing::TestWithParam<TextCase> {};

TEST_P(NameText, FollowsTheSystemVersionAndEncoding) {
  const TextCase &c = GetParam();
  const std::string name = support_test::RunInChild([&] {
    if (!std::setlocale(LC_ALL, c.locale)) return std::string("<no locale ") + c.locale + ">";
    VPGestaltSetSystemVersion(c.version, c.gestaltResult);
    CFStringRef text = CFStringCreateWithCString(nullptr, c.utf8, kCFStringEncodingUTF8);
    const std::string described = NameOf(text);
    CFRelease(text);
    return described;
  });
  EXPECT_EQ(name, c.expected);
}

// "Gr\u00f6\u00dfe": G r ö ß e.
INSTANTIATE_TEST_SUITE_P(
    Rows, NameText,
    ::testing::ValuesIn(std::vector<TextCase>{
        {"Version10_2IsUnicode", 0x1020, noErr, "C.UTF-8", "Gr\u00f6\u00dfe",
         "utxt / 47 00 72 00 f6 00 df 00 65 00"},
        {"Version10_1_15IsIntlUtf8", 0x101F, noErr, "C.UTF-8", "Gr\u00f6\u00dfe",
         "itxt 126 32767 / 47 72 c3 b6 c3 9f 65"},
        {"IntlTextInAsciiLosesWhatItCannotHold", 0x101F, noErr, "C", "Gr\u00f6\u00dfe \u2713",
         "itxt 0 0 / 47 72 3f 3f 65 20 3f"},
        {"FailedVersionQueryReadsAsBefore10_2", 0, gestaltUndefSelectorErr, "C.UTF-8", "ab",
         "itxt 126 32767 / 61 62"},
        {"EmptyIntlTextIsTheHeaderAlone", 0x1010, noErr, "C.UTF-8", "", "itxt 126 32767 /"},
        {"EmptyUnicodeTextIsNoBytes", 0x1040, noErr, "C.UTF-8", "", "utxt /"},
    }),
    [](const ::testing::TestParamInfo<TextCase> &row) { return std::string(row.param.name); });

} // namespace
