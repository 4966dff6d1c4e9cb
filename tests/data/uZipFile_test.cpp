#include "data/uZipFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "alloc_probe.h"
#include "zip_builder.h"

namespace {

using ziptest::Archive;
using ziptest::Member;

const std::string kAlcText =
    ";CPU Tarvo-2 V2.40\r\n0010 3 1 0 2 global int Level Tank level in mm\r\n";

Member AlcMember() {
  Member m;
  m.Content = kAlcText;
  return m;
}

TZipFile Load(const std::string& bytes, size_t startAt = 0) {
  TMemoryStream stream(ziptest::Bytes(bytes));
  stream.SetPosition(startAt);
  TZipFile zip;
  zip.LoadFromStream(stream);
  return zip;
}

std::string FileText(const std::string& name) {
  std::ifstream in(std::string(VARNEL_TEST_DATA) + "/files/" + name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// What GetFileData gives: the bytes, or the kind and message of the error.
struct Outcome {
  enum Kind { kData, kCrcError, kZipError } kind = kData;
  std::string text;  // the data or the message
};

Outcome Extract(TZipFile& zip, int index) {
  try {
    return {Outcome::kData, zip.GetFileData(index)};
  } catch (const EZipFileCRCError& e) {
    return {Outcome::kCrcError, e.what()};
  } catch (const EZipError& e) {
    return {Outcome::kZipError, e.what()};
  }
}

// ---------------------------------------------------------------------------------------

struct MemberCase {
  const char* name;
  std::function<std::string()> archive;
  int count;
  Outcome::Kind kind;
  std::string expected;  // the data, or the message; empty: any message
};

const uint32_t kZero = 0;
const uint32_t kWrongCrc = 0x12345678;
const uint32_t kHuge = 0xFFFFFFFF;
const uint32_t kJustTooLarge = kMaxZipMemberSize + 1;

std::vector<MemberCase> MemberCases() {
  return {
      {"deflated member", [] { return Archive({AlcMember()}); }, 1, Outcome::kData, kAlcText},
      {"stored member is not copied",
       [] {
         Member m = AlcMember();
         m.Method = 0;
         m.Store = true;
         return Archive({m});
       },
       1, Outcome::kZipError, ""},
      {"wrong CRC names the member",
       [] {
         Member m = AlcMember();
         m.Crc32 = &kWrongCrc;
         return Archive({m});
       },
       1, Outcome::kCrcError, "CRC Error in \"alc.alc\"."},
      {"empty member",
       [] {
         Member m;
         m.Content = "";
         return Archive({m});
       },
       1, Outcome::kData, ""},
      {"empty member without any data",
       [] {
         Member m;
         const std::string none;
         m.Data = &none;
         return Archive({m});
       },
       1, Outcome::kData, ""},
      {"empty member with a CRC fails",
       [] {
         Member m;
         m.Crc32 = &kWrongCrc;
         return Archive({m});
       },
       1, Outcome::kCrcError, "CRC Error in \"alc.alc\"."},
      {"four bytes of padding", [] { return std::string(4, '\0') + Archive({AlcMember()}); }, 1,
       Outcome::kData, kAlcText},
      {"eight bytes of padding", [] { return std::string("padding!") + Archive({AlcMember()}); }, 1,
       Outcome::kData, kAlcText},
      {"data ends before the declared size",
       [] {
         Member m = AlcMember();
         const uint32_t larger = static_cast<uint32_t>(kAlcText.size() + 10);
         m.UncompressedSize = &larger;
         return Archive({m});
       },
       1, Outcome::kCrcError, "CRC Error in \"alc.alc\"."},
      {"data ends early and the stored CRC is that of no bytes",
       [] {
         Member m = AlcMember();
         const uint32_t larger = static_cast<uint32_t>(kAlcText.size() + 10);
         m.UncompressedSize = &larger;
         m.Crc32 = &kZero;
         return Archive({m});
       },
       1, Outcome::kCrcError, "CRC Error in \"alc.alc\"."},
      {"decoding stops at the declared size",
       [] {
         Member m = AlcMember();
         static const uint32_t five = 5;
         static const uint32_t crc = ziptest::Crc(kAlcText.substr(0, 5));
         m.UncompressedSize = &five;
         m.Crc32 = &crc;
         return Archive({m});
       },
       1, Outcome::kData, kAlcText.substr(0, 5)},
      {"a 4 GiB member is refused",
       [] {
         Member m = AlcMember();
         m.UncompressedSize = &kHuge;
         return Archive({m});
       },
       1, Outcome::kZipError,
       "Member \"alc.alc\" is too large: 4294967295 bytes, at most 16777216"},
      {"one byte above the limit is refused",
       [] {
         Member m = AlcMember();
         m.UncompressedSize = &kJustTooLarge;
         return Archive({m});
       },
       1, Outcome::kZipError, "Member \"alc.alc\" is too large: 16777217 bytes, at most 16777216"},
      {"compressed size past the end",
       [] {
         Member m = AlcMember();
         const uint32_t past = 1000;
         m.CompressedSize = &past;
         return ziptest::LocalEntry(m);
       },
       1, Outcome::kZipError, "Member \"alc.alc\" runs past the end of the archive"},
      {"huge compressed size",
       [] {
         Member m = AlcMember();
         m.CompressedSize = &kHuge;
         return Archive({m});
       },
       1, Outcome::kZipError, "Member \"alc.alc\" runs past the end of the archive"},
      {"header cut short", [] { return ziptest::LocalEntry(AlcMember()).substr(0, 14); }, 1,
       Outcome::kZipError, "Member \"\" runs past the end of the archive"},
      {"central directory lists more members than there are",
       [] { return Archive({AlcMember()}, 3); }, 1, Outcome::kData, kAlcText},
      {"no central directory or end record",
       [] { return ziptest::LocalEntry(AlcMember()) + "trailing garbage"; }, 1, Outcome::kData,
       kAlcText},
      {"member with a data descriptor reads as empty",
       [] {
         Member m = AlcMember();
         m.Flags = 8;
         m.Crc32 = &kZero;
         m.CompressedSize = &kZero;
         m.UncompressedSize = &kZero;
         const std::string deflated = ziptest::Deflate(kAlcText);
         std::string descriptor;
         AppendLE32(descriptor, 0x08074B50);
         AppendLE32(descriptor, ziptest::Crc(kAlcText));
         AppendLE32(descriptor, static_cast<uint32_t>(deflated.size()));
         AppendLE32(descriptor, static_cast<uint32_t>(kAlcText.size()));
         return ziptest::LocalEntry(m) + deflated + descriptor;
       },
       1, Outcome::kData, ""},
  };
}

TEST(ZipFileTest, ExtractsMembersAsTheArchiveDeclaresThem) {
  for (const MemberCase& c : MemberCases()) {
    SCOPED_TRACE(c.name);
    TZipFile zip = Load(c.archive());
    ASSERT_EQ(zip.Count(), c.count);
    const Outcome out = Extract(zip, 0);
    EXPECT_EQ(out.kind, c.kind) << out.text;
    if (c.kind == Outcome::kData || !c.expected.empty()) {
      EXPECT_EQ(out.text, c.expected);
    }
  }
}

TEST(ZipFileTest, AFlippedByteFailsExtraction) {
  std::string bad = Archive({AlcMember()});
  const size_t middle = 30 + 7 + ziptest::Deflate(kAlcText).size() / 2;
  bad[middle] = static_cast<char>(bad[middle] ^ 0xFF);
  TZipFile zip = Load(bad);
  ASSERT_EQ(zip.Count(), 1);
  EXPECT_NE(Extract(zip, 0).kind, Outcome::kData);
}

TEST(ZipFileTest, NoCorruptedByteGivesWrongData) {
  const std::string good = Archive({AlcMember()});
  const size_t dataStart = 30 + std::string("alc.alc").size();
  const size_t dataSize = ziptest::Deflate(kAlcText).size();
  for (size_t i = dataStart; i < dataStart + dataSize; ++i) {
    for (uint8_t flip : {0x01, 0x80, 0xFF}) {
      std::string bad = good;
      bad[i] = static_cast<char>(bad[i] ^ flip);
      TZipFile zip = Load(bad);
      ASSERT_EQ(zip.Count(), 1);
      // Only the padding bits after the last block may change unnoticed.
      const Outcome out = Extract(zip, 0);
      if (out.kind == Outcome::kData) {
        EXPECT_EQ(out.text, kAlcText) << "byte " << i << " flipped with " << int(flip);
      }
    }
  }
}

TEST(ZipFileTest, BadIndexesAreOutOfRange) {
  TZipFile zip = Load(Archive({AlcMember()}));
  for (int index : {-1, 1, 2, INT32_MIN, INT32_MAX}) {
    const Outcome out = Extract(zip, index);
    EXPECT_EQ(out.kind, Outcome::kZipError);
    EXPECT_EQ(out.text, "Index out of range.");
  }
  EXPECT_THROW(zip.FileName(1), EZipError);
}

TEST(ZipFileTest, ArchivesThatLoadEmpty) {
  const std::string archive = Archive({AlcMember()});
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"no bytes", ""},
      {"two bytes of padding", std::string(2, '\0') + archive},
      {"six bytes of padding", std::string(6, ' ') + archive},
      {"text", "just some text, no archive at all"},
      {"a lone signature", "PK\x03\x04"},
      {"an end record only", ziptest::EndRecord(0, 0, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Load(c.bytes).Count(), 0);
  }
}

TEST(ZipFileTest, ReadsFromTheStreamsPosition) {
  const std::string archive = Archive({AlcMember()});
  TZipFile zip = Load("xyz" + archive, 3);
  ASSERT_EQ(zip.Count(), 1);
  EXPECT_EQ(zip.GetFileData(0), kAlcText);
}

TEST(ZipFileTest, SeveralMembersInArchiveOrder) {
  Member a = AlcMember(), b, c;
  b.Name = "second.txt";
  b.Content = std::string(100000, 'x');
  c.Name = "third.bin";
  c.Content = std::string("\x00\x01\x02\xFF", 4);
  TZipFile zip = Load(Archive({a, b, c}, 0, "archive comment"));
  ASSERT_EQ(zip.Count(), 3);
  EXPECT_EQ(zip.FileName(1), "second.txt");
  EXPECT_EQ(zip.GetFileData(2), c.Content);
  EXPECT_EQ(zip.GetFileData(1), b.Content);
  EXPECT_EQ(zip.GetFileData(0), kAlcText);
  EXPECT_EQ(zip.CentralDirectoryCount(), 3);
  EXPECT_EQ(zip.ZipFileComment(), "archive comment");
}

TEST(ZipFileTest, ExtraCentralEntriesAreReadButNotKept) {
  TZipFile zip = Load(Archive({AlcMember()}, 5));
  EXPECT_EQ(zip.Count(), 1);
  EXPECT_EQ(zip.CentralDirectoryCount(), 6);
  EXPECT_THROW(zip.GetFileData(1), EZipError);
}

TEST(ZipFileTest, KeepsWhatItLoadedWhenExtractionFails) {
  Member bad = AlcMember();
  bad.Crc32 = &kWrongCrc;
  Member good = AlcMember();
  good.Name = "good.alc";
  TZipFile zip = Load(Archive({bad, good}));
  EXPECT_THROW(zip.GetFileData(0), EZipFileCRCError);
  EXPECT_THROW(zip.GetFileData(0), EZipFileCRCError);
  EXPECT_EQ(zip.GetFileData(1), kAlcText);
}

TEST(ZipFileTest, LoadingAgainReplacesTheArchive) {
  TZipFile zip = Load(Archive({AlcMember(), AlcMember()}));
  Member other;
  other.Name = "other";
  other.Content = "other content";
  TMemoryStream stream(ziptest::Bytes(Archive({other})));
  zip.LoadFromStream(stream);
  ASSERT_EQ(zip.Count(), 1);
  EXPECT_EQ(zip.GetFileData(0), "other content");
}

TEST(ZipFileTest, TheAllocationProbeSeesAllocations) {
  TAllocationProbe probe;
  std::string big(200000, 'x');
  EXPECT_GE(probe.Largest(), big.size());
}

TEST(ZipFileTest, UntrustedLengthsSizeNoAllocation) {
  const std::string kOverrides[] = {"uncompressed", "compressed", "name"};
  for (const std::string& field : kOverrides) {
    SCOPED_TRACE(field);
    Member m = AlcMember();
    std::string archive;
    if (field == "uncompressed") {
      m.UncompressedSize = &kHuge;
      archive = Archive({m});
    } else if (field == "compressed") {
      m.CompressedSize = &kHuge;
      archive = ziptest::LocalEntry(m);
    } else {
      archive = ziptest::LocalEntry(m);
      archive[26] = archive[27] = '\xFF';  // name length 65535
    }
    TAllocationProbe probe;
    TZipFile zip = Load(archive);
    ASSERT_EQ(zip.Count(), 1);
    EXPECT_THROW(zip.GetFileData(0), EZipError);
    EXPECT_LT(probe.Largest(), 64u * 1024);
  }
}

TEST(ZipFileTest, AMemberJustBelowTheLimitGrowsWithItsData) {
  // Declares the limit but holds a few bytes: the buffer follows the data.
  Member m = AlcMember();
  const uint32_t limit = kMaxZipMemberSize;
  m.UncompressedSize = &limit;
  TAllocationProbe probe;
  TZipFile zip = Load(Archive({m}));
  EXPECT_THROW(zip.GetFileData(0), EZipFileCRCError);
  EXPECT_LE(probe.Largest(), 64u * 1024 + 64);
}

TEST(ZipFileTest, ALargeMemberExtracts) {
  std::string content;
  for (int i = 0; i < 300000; ++i) content += std::to_string(i) + "\n";
  Member m;
  m.Content = content;
  TZipFile zip = Load(Archive({m}));
  EXPECT_EQ(zip.GetFileData(0), content);
}

TEST(ZipFileTest, ArchivesOfStandardTools) {
  const std::string alc = FileText("plant.alc");
  ASSERT_FALSE(alc.empty());
  for (const char* file : {"plant_infozip.zip", "plant_python.zip"}) {
    SCOPED_TRACE(file);
    TZipFile zip;
    zip.LoadFromFile(std::string(VARNEL_TEST_DATA) + "/files/" + file);
    ASSERT_EQ(zip.Count(), 1);
    EXPECT_EQ(zip.FileName(0), "plant.alc");
    EXPECT_EQ(zip.GetFileData(0), alc);
  }
}

TEST(ZipFileTest, SixtyFourBitSizesAreRefused) {
  // Written from a pipe: the local header says "see the 64-bit extra field".
  TZipFile zip;
  zip.LoadFromFile(std::string(VARNEL_TEST_DATA) + "/files/plant_zip64.zip");
  ASSERT_EQ(zip.Count(), 1);
  const Outcome out = Extract(zip, 0);
  EXPECT_EQ(out.kind, Outcome::kZipError);
  EXPECT_NE(out.text.find("too large"), std::string::npos) << out.text;
}

TEST(ZipFileTest, AMissingFileRaises) {
  TZipFile zip;
  EXPECT_THROW(zip.LoadFromFile(std::string(VARNEL_TEST_DATA) + "/files/no-such.zip"),
               EVarnelError);
}

}  // namespace
