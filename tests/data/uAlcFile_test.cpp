#include "data/uAlcFile.h"

#include <gtest/gtest.h>

#include "data/uFileBytes.h"
#include "zip_builder.h"

namespace {

std::vector<uint8_t> Fixture(const std::string& name) {
  return ReadFileBytes(std::string(VARNEL_TEST_DATA) + "/files/" + name);
}

const std::string kAlc = ";CPU Tarvo-2 V1\n0010 3 1 0 2 global int Level Tank level\n";

ziptest::Member Member(const std::string& name, const std::string& content) {
  ziptest::Member m;
  m.Name = name;
  m.Content = content;
  return m;
}

// The outcome of loading: "<variables> from <member or text>", or the error's message.
std::string Load(const std::vector<uint8_t>& bytes, bool single = false) {
  TTarvoVarList list;
  try {
    const TAlcFileInfo info = LoadAlcBytes(bytes, list, single);
    std::string s = std::to_string(list.Count()) + " from " +
                    (info.FromArchive ? info.MemberName : std::string("text"));
    if (!info.HasMarker) s += ", no marker";
    return s;
  } catch (const std::exception& e) {
    return e.what();
  }
}

TEST(AlcFileTest, TextOrArchiveByContent) {
  const uint32_t wrongCrc = 1;
  ziptest::Member damaged = Member("alc.alc", kAlc);
  damaged.Crc32 = &wrongCrc;
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    bool single;
    std::string outcome;
  } cases[] = {
      {"text", Fixture("plant.alc"), false, "11 from text"},
      {"arrays as single variables", Fixture("plant.alc"), true, "7 from text"},
      {"Info-ZIP archive", Fixture("plant_infozip.zip"), false, "11 from plant.alc"},
      {"Python archive", Fixture("plant_python.zip"), false, "11 from plant.alc"},
      {"archive with 64-bit sizes", Fixture("plant_zip64.zip"), false,
       "Member \"-\" is too large: 4294967295 bytes, at most 16777216"},
      {"padded archive", ziptest::Bytes("    " + ziptest::Archive({Member("a", kAlc)})), false,
       "1 from a"},
      {"damaged member", ziptest::Bytes(ziptest::Archive({damaged})), false,
       "CRC Error in \"alc.alc\"."},
      {"malformed line in a member",
       ziptest::Bytes(ziptest::Archive({Member("alc.alc", kAlc + "bad line\n")})), false,
       "Error parsing ALC data on line 2"},
      {"archive of no member", ziptest::Bytes(ziptest::EndRecord(0, 0, 0)), false,
       "The archive holds no file"},
      {"several members: the allocation file",
       ziptest::Bytes(ziptest::Archive(
           {Member("readme.txt", "x"), Member("PLANT.ALC", kAlc), Member("b.alc", "")})),
       false, "1 from PLANT.ALC"},
      {"several members, none named so",
       ziptest::Bytes(ziptest::Archive({Member("first", kAlc), Member("second", "")})), false,
       "1 from first"},
      {"text without a marker", ziptest::Bytes("0010 3 1 0 2 global int Level\n"), false,
       "0 from text, no marker"},
      {"empty file", {}, false, "0 from text, no marker"},
  };
  for (const auto& c : cases) EXPECT_EQ(Load(c.bytes, c.single), c.outcome) << c.name;
}

TEST(AlcFileTest, ReadFileBytesRefusesWhatIsNoFile) {
  const std::string dir = std::string(VARNEL_TEST_DATA) + "/files";
  EXPECT_EQ(ReadFileBytes(dir + "/plant.alc", 594).size(), 594u);
  const struct {
    std::string path;
    size_t max;
    std::string message;
  } cases[] = {
      {dir + "/plant.alc", 593,
       "Cannot read file \"" + dir + "/plant.alc\": larger than 593 bytes"},
      {dir, kMaxInputFileSize, "Cannot read file \"" + dir + "\": it is a directory"},
      {dir + "/missing", kMaxInputFileSize,
       "Cannot read file \"" + dir + "/missing\": No such file or directory"},
  };
  for (const auto& c : cases) {
    try {
      ReadFileBytes(c.path, c.max);
      ADD_FAILURE() << c.path << " read";
    } catch (const EVarnelError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
}

}  // namespace
