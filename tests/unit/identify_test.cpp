// Drive identification: model text extraction, the NT-family and Windows 9x
// passes against scripted ports, the SAT layouts the Linux port relies on,
// and the real ports where they can run without hardware.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fakes/FakeIdentifyPorts.h"
#include "identify/AtaPassThrough.h"
#include "identify/CDriveIdentifier.h"
#include "identify/ModelText.h"
#include "platform/Format.h"

using ::testing::ElementsAre;

namespace {

// A block whose model field holds exactly these 40 raw bytes (reading order).
IdentifyBlock RawModelField(const std::string& field40, uint8_t fill = 0) {
  IdentifyBlock block;
  block.fill(fill);
  for (std::size_t i = 0; i < 20; ++i) {
    block[54 + 2 * i + 1] = static_cast<uint8_t>(field40.at(2 * i));
    block[54 + 2 * i] = static_cast<uint8_t>(field40.at(2 * i + 1));
  }
  return block;
}

std::array<std::string, 4> Entries(std::string a, std::string b, std::string c, std::string d) { return {a, b, c, d}; }

}  // namespace

// ---- model text ----------------------------------------------------------

TEST(IdentifyModelText, EighteenCharactersThenSpaces) {
  const std::string model = "ST3160812AS0123456";
  ASSERT_EQ(model.size(), 18u);
  const std::string text = ExtractModelText(RawModelField(model + std::string(22, ' ')));
  EXPECT_EQ(text, model);
  EXPECT_EQ(StrFormat("Disk %d: %s", 0, text.c_str()), "Disk 0: ST3160812AS0123456");
}

TEST(IdentifyModelText, FortySpacesKeepTheFirst) {
  EXPECT_EQ(ExtractModelText(RawModelField(std::string(40, ' '))), " ");
}

TEST(IdentifyModelText, LeadingSpacesStay) {
  const std::string model = "   QUANTUM FIREBALL";
  EXPECT_EQ(ExtractModelText(RawModelField(model + std::string(40 - model.size(), ' '))), model);
}

TEST(IdentifyModelText, ZeroByteEndsTheText) {
  EXPECT_EQ(ExtractModelText(RawModelField(std::string("ABC\0DEF", 7) + std::string(33, ' '))), "ABC");
  // Trailing spaces go from the end of the field, so spaces before a zero stay.
  EXPECT_EQ(ExtractModelText(RawModelField(std::string("AB  \0XY", 7) + std::string(33, ' '))), "AB  ");
  EXPECT_EQ(ExtractModelText(IdentifyBlock{}), "");
}

TEST(IdentifyModelText, HighByteFirstAndOnlyWords27To46) {
  IdentifyBlock block;
  block.fill('X');  // words outside the field must not show up
  for (std::size_t i = 54; i < 94; i += 2) {
    block[i] = ' ';
    block[i + 1] = ' ';
  }
  block[54] = 'D';  // word 27 = 0x5744: high byte 'W', low byte 'D'
  block[55] = 'W';
  block[92] = '2';  // word 46: high '1', low '2'
  block[93] = '1';
  EXPECT_EQ(ExtractModelText(block), std::string("WD") + std::string(36, ' ') + "12");
}

TEST(IdentifyModelText, NoZeroAndNonAsciiBytesKeptVerbatim) {
  IdentifyBlock block;
  block.fill(0xFF);  // no zero byte anywhere
  EXPECT_EQ(ExtractModelText(block), std::string(40, '\xFF'));
  // Bytes above 0x7F are not spaces, whatever the signedness of char.
  const std::string field = std::string("\xB4\xC5\xC5\xCC") + std::string(35, ' ') + "\xA0";
  EXPECT_EQ(ExtractModelText(RawModelField(field)), field);
}

TEST(IdentifyModelText, ModelFieldInReadingOrderLandsAsAnAtaDriveHoldsIt) {
  std::string field = "Samsung SSD 980 PRO 1TB";
  field.resize(40, ' ');
  const IdentifyBlock block = IdentifyBlockFromModelField(reinterpret_cast<const uint8_t*>(field.data()));
  // Word 27 (bytes 54 and 55, little-endian) holds "Sa": 'S' in its high
  // byte, 'a' in its low byte; word 46 the last two characters.
  EXPECT_EQ(block[54], 'a');
  EXPECT_EQ(block[55], 'S');
  EXPECT_EQ(block[56], 's');
  EXPECT_EQ(block[57], 'm');
  EXPECT_EQ(block[92], ' ');
  EXPECT_EQ(block[93], ' ');
  // Nothing outside the field.
  for (std::size_t i = 0; i < block.size(); ++i)
    if (i < 54 || i >= 94) {
      ASSERT_EQ(block[i], 0) << "byte " << i;
    }
  EXPECT_EQ(ExtractModelText(block), "Samsung SSD 980 PRO 1TB");
}

// ---- serial number -------------------------------------------------------

namespace {
// A block whose serial field (words 10 to 19) holds these 20 raw bytes in
// reading order, the model field a model, `fill` elsewhere.
IdentifyBlock RawSerialField(const std::string& field20, uint8_t fill = 0) {
  IdentifyBlock block = FakeIdentifyBlockWithModel("MODEL", fill);
  for (std::size_t i = 0; i < 10; ++i) {
    block[20 + 2 * i + 1] = static_cast<uint8_t>(field20.at(2 * i));
    block[20 + 2 * i] = static_cast<uint8_t>(field20.at(2 * i + 1));
  }
  return block;
}
}  // namespace

TEST(IdentifySerialText, HighByteFirstWithThePaddingOnBothSidesRemoved) {
  EXPECT_EQ(ExtractSerialText(RawSerialField("     WD-WCAV12345678")), "WD-WCAV12345678");
  EXPECT_EQ(ExtractSerialText(RawSerialField("S3Z9NB0K123456X     ")), "S3Z9NB0K123456X");
  EXPECT_EQ(ExtractSerialText(RawSerialField("  AB CD  12 34      ")), "AB CD  12 34");  // inner spaces stay
  EXPECT_EQ(ExtractSerialText(RawSerialField("12345678901234567890", 'x')), "12345678901234567890");
  // Only words 10 to 19: the bytes around them (here 'x') are not part of it.
  EXPECT_EQ(ExtractSerialText(RawSerialField("9                  8", 'x')), "9                  8");
}

TEST(IdentifySerialText, NoSerialGivesAnEmptyText) {
  EXPECT_EQ(ExtractSerialText(IdentifyBlock{}), "");                       // all zero
  EXPECT_EQ(ExtractSerialText(RawSerialField(std::string(20, ' '))), "");  // all spaces
  EXPECT_EQ(ExtractSerialText(RawSerialField(std::string("AB\0CD", 5) + std::string(15, ' '))), "AB");
}

TEST(IdentifySerialText, BytesThatAreNotPrintableAsciiReadAsQuestionMarks) {
  // Control bytes (a TAB, an escape) would break a TAB-separated line or
  // steer a terminal; bytes above 0x7F are no ASCII.
  EXPECT_EQ(ExtractSerialText(RawSerialField(std::string("A\tB\x1b[C\xFF") + std::string(13, ' '))), "A?B?[C?");
}

TEST(IdentifySerialText, TheNvmeSerialInReadingOrderLandsAsAnAtaDriveHoldsIt) {
  std::string field = "S4EWNX0R123456";
  field.resize(20, ' ');
  IdentifyBlock block = FakeIdentifyBlockWithModel("Samsung SSD 980 PRO 1TB");
  const IdentifyBlock before = block;
  PutSerialField(block, reinterpret_cast<const uint8_t*>(field.data()));
  EXPECT_EQ(block[20], '4');  // word 10: "S4", 'S' in the high byte
  EXPECT_EQ(block[21], 'S');
  for (std::size_t i = 0; i < block.size(); ++i) {
    if (i < 20 || i >= 40) {
      ASSERT_EQ(block[i], before[i]) << "byte " << i;
    }
  }
  EXPECT_EQ(ExtractSerialText(block), "S4EWNX0R123456");
  EXPECT_EQ(ExtractModelText(block), "Samsung SSD 980 PRO 1TB");
}

TEST(IdentifyDriveSerial, AsksTheDriveAsTheNtPassDoesForAnyDriveNumber) {
  FakeIdentifyNtPort nt;
  nt.drives[0] = {true, 0x01, true, RawSerialField("            SERIAL-0")};
  nt.drives[1] = {true, 0x22, true, RawSerialField("ATAPI-1             ")};  // ATAPI: bit 4 + 1
  nt.drives[2] = {true, 0x04, false, RawSerialField("NEVER SEEN          ")};
  nt.drives[6] = {true, 0x00, true, RawSerialField("SIXTH               ")};  // past the table's four
  EXPECT_EQ(ReadDriveSerial(nt, 0), "SERIAL-0");
  EXPECT_EQ(ReadDriveSerial(nt, 1), "ATAPI-1");
  EXPECT_EQ(ReadDriveSerial(nt, 2), "");  // does not answer
  EXPECT_EQ(ReadDriveSerial(nt, 3), "");  // does not open
  EXPECT_EQ(ReadDriveSerial(nt, 6), "SIXTH");
  ASSERT_EQ(nt.identifyRequests.size(), 4u);
  EXPECT_EQ(nt.identifyRequests[0].request.irDriveRegs.bCommandReg, kAtaIdentifyDevice);
  EXPECT_EQ(nt.identifyRequests[1].request.irDriveRegs.bCommandReg, kAtaIdentifyPacketDevice);
  EXPECT_EQ(nt.identifyRequests[1].request.irDriveRegs.bDriveHeadReg, 0xB0);  // odd drive: slave
  EXPECT_EQ(nt.identifyRequests[3].request.bDriveNumber, 6);
  EXPECT_EQ(nt.identifyRequests[3].request.irDriveRegs.bCommandReg, kAtaIdentifyDevice);
  EXPECT_EQ(nt.openHandles, 0);  // every drive closed again
}

// ---- NT-family pass ------------------------------------------------------

class IdentifyNtPass : public ::testing::Test {
 protected:
  void Script(int n, uint8_t map, bool identifies, const std::string& model = "") {
    nt.drives[n] = {true, map, identifies, FakeIdentifyBlockWithModel(model)};
  }
  std::array<std::string, 4> Run() {
    CDriveIdentifier id(system, &nt, &w9x);
    return id.strModol;
  }
  FakeIdentifySystem system{kVerPlatformNt};
  FakeIdentifyNtPort nt;
  FakeIdentify9xPort w9x;
};

TEST_F(IdentifyNtPass, DrivesZeroAndTwoIdentifiedOneFails) {
  FakeIdentifyJournal journal;
  nt.journal = &journal;
  Script(0, 0x07, true, "MAXTOR 6L080J4");
  Script(1, 0x07, false, "NEVER SEEN");
  Script(2, 0x07, true, "IC35L060AVVA07-0");
  EXPECT_EQ(Run(), Entries("MAXTOR 6L080J4", "", "IC35L060AVVA07-0", ""));
  EXPECT_THAT(system.versionSizes, ElementsAre(148u));
  EXPECT_EQ(nt.openHandles, 0);
  EXPECT_THAT(journal, ElementsAre("open 0", "version 0", "identify 0", "close 0",  //
                                   "open 1", "version 1", "identify 1", "close 1",  //
                                   "open 2", "version 2", "identify 2", "close 2",  //
                                   "open 3"));
  EXPECT_TRUE(w9x.priorities.empty());
}

TEST_F(IdentifyNtPass, AtapiBitIsBitFourPlusN) {
  struct Case {
    int n;
    uint8_t map;
    uint8_t command;
  };
  for (const Case c : {Case{0, 0x11, 0xA1}, Case{0, 0x01, 0xEC}, Case{1, 0x22, 0xA1}, Case{1, 0x10, 0xEC},
                       Case{3, 0x80, 0xA1}, Case{3, 0x40, 0xEC}}) {
    FakeIdentifyNtPort port;
    port.drives[c.n] = {true, c.map, true, FakeIdentifyBlockWithModel("M")};
    CDriveIdentifier id(system, &port, nullptr);
    ASSERT_EQ(port.identifyRequests.size(), 1u) << "drive " << c.n;
    EXPECT_EQ(port.identifyRequests[0].request.irDriveRegs.bCommandReg, c.command)
        << "drive " << c.n << " map " << int(c.map);
  }
}

TEST_F(IdentifyNtPass, EmptyDeviceMapSendsNoIdentify) {
  Script(0, 0x00, true, "HIDDEN");
  nt.drives[1] = {false, 0x01, true, FakeIdentifyBlockWithModel("CLOSED")};
  EXPECT_EQ(Run(), Entries("", "", "", ""));
  EXPECT_TRUE(nt.identifyRequests.empty());
  EXPECT_THAT(nt.versionQueries, ElementsAre(0));  // a drive that does not open is not asked
  EXPECT_EQ(nt.openHandles, 0);
}

TEST_F(IdentifyNtPass, RequestRegistersPerDrive) {
  for (int n = 0; n < 4; ++n) Script(n, 0x0F, true, "D");
  Run();
  ASSERT_EQ(nt.identifyRequests.size(), 4u);
  for (int n = 0; n < 4; ++n) {
    const FakeIdentifyRequestRecord& r = nt.identifyRequests[static_cast<std::size_t>(n)];
    EXPECT_EQ(r.drive, n);
    EXPECT_EQ(r.request.cBufferSize, 512u);
    EXPECT_EQ(r.request.bDriveNumber, n);
    const IdeRegisters& regs = r.request.irDriveRegs;
    EXPECT_EQ(regs.bFeaturesReg, 0);
    EXPECT_EQ(regs.bSectorCountReg, 1);
    EXPECT_EQ(regs.bSectorNumberReg, 1);
    EXPECT_EQ(regs.bCylLowReg, 0);
    EXPECT_EQ(regs.bCylHighReg, 0);
    EXPECT_EQ(regs.bDriveHeadReg, n % 2 == 0 ? 0xA0 : 0xB0);
    EXPECT_EQ(regs.bCommandReg, 0xEC);
  }
}

TEST_F(IdentifyNtPass, DrivesFourAndUpNeverQueried) {
  for (int n = 0; n < 8; ++n) Script(n, 0xFF, true, StrFormat("D%d", n));
  EXPECT_EQ(Run(), Entries("D0", "D1", "D2", "D3"));
  EXPECT_THAT(nt.openAttempts, ElementsAre(0, 1, 2, 3));
}

TEST_F(IdentifyNtPass, OtherPlatformsOrNoVersionRunNothing) {
  Script(0, 0x01, true, "X");
  system.version.platformId = kVerPlatformWin32s;
  EXPECT_EQ(Run(), Entries("", "", "", ""));
  system.version.platformId = kVerPlatformNt;
  system.versionOk = false;
  EXPECT_EQ(Run(), Entries("", "", "", ""));
  system.versionOk = true;
  CDriveIdentifier withoutPort(system, nullptr, &w9x);
  EXPECT_EQ(withoutPort.strModol, Entries("", "", "", ""));
  EXPECT_TRUE(nt.openAttempts.empty());
  EXPECT_EQ(w9x.reads, 0);
  EXPECT_TRUE(system.messages.empty());
  EXPECT_EQ(withoutPort.GetModel(4), "");
  EXPECT_EQ(withoutPort.GetModel(-1), "");
}

// ---- Windows 9x pass -----------------------------------------------------

class Identify9xPass : public ::testing::Test {
 protected:
  std::array<std::string, 4> Run() {
    CDriveIdentifier id(system, &nt, &w9x);
    return id.strModol;
  }
  FakeIdentifySystem system{kVerPlatformWindows};
  FakeIdentifyNtPort nt;
  FakeIdentify9xPort w9x;
};

TEST_F(Identify9xPass, SecondaryMasterLandsInEntryTwo) {
  w9x.AddDrive(2, FakeIdentifyBlockWithModel("ST310211A"));
  EXPECT_EQ(Run(), Entries("", "", "ST310211A", ""));
  EXPECT_TRUE(w9x.recordWasZeroed);
  EXPECT_TRUE(system.messages.empty());
  EXPECT_THAT(w9x.priorities, ElementsAre(kRealtimePriority, kNormalPriority));
  EXPECT_TRUE(nt.openAttempts.empty());
}

TEST_F(Identify9xPass, ThePriorityTheProcessRanAtComesBack) {
  w9x.current = 0x00000080;  // HIGH_PRIORITY_CLASS, set by whoever started us
  w9x.AddDrive(0, FakeIdentifyBlockWithModel("M"));
  Run();
  EXPECT_THAT(w9x.priorities, ElementsAre(kRealtimePriority, 0x00000080u));
  EXPECT_EQ(w9x.current, 0x00000080u);
}

TEST_F(Identify9xPass, BothFlagsNeeded) {
  w9x.AddDrive(0, FakeIdentifyBlockWithModel("MASTER0"));
  w9x.AddDrive(1, FakeIdentifyBlockWithModel("SLAVE0"));
  w9x.AddDrive(3, FakeIdentifyBlockWithModel("SLAVE1"));
  w9x.reply[0] = 0;      // primary controller absent: its drive flags do not count
  w9x.reply[4 + 3] = 0;  // secondary slave not present, controller 1 still is
  EXPECT_EQ(Run(), Entries("", "", "", ""));

  w9x.reply[0] = 0x80;  // any nonzero flag means present
  w9x.reply[4 + 3] = 0xFF;
  EXPECT_EQ(Run(), Entries("MASTER0", "SLAVE0", "", "SLAVE1"));
}

TEST_F(Identify9xPass, TertiaryAndQuaternaryDropped) {
  w9x.AddDrive(1, FakeIdentifyBlockWithModel("ONE"));
  for (int p = 4; p < 8; ++p) w9x.AddDrive(p, FakeIdentifyBlockWithModel("FAR" + std::to_string(p)));
  EXPECT_EQ(Run(), Entries("", "ONE", "", ""));
}

TEST_F(Identify9xPass, FlagsWithZeroBlocksGiveEmptyEntries) {
  for (int p = 0; p < 8; ++p) w9x.AddDrive(p, IdentifyBlock{});
  EXPECT_EQ(Run(), Entries("", "", "", ""));
  w9x.reply.fill(0);  // a driver that writes nothing reports no drives
  EXPECT_EQ(Run(), Entries("", "", "", ""));
  EXPECT_TRUE(system.messages.empty());
}

TEST_F(Identify9xPass, MissingDriverShowsOneBoxAndRestoresNormal) {
  FakeIdentifyJournal journal;
  w9x.journal = &journal;
  system.journal = &journal;
  w9x.driverPresent = false;
  w9x.AddDrive(0, FakeIdentifyBlockWithModel("NOT READ"));
  EXPECT_EQ(Run(), Entries("", "", "", ""));
  ASSERT_EQ(system.messages.size(), 1u);
  EXPECT_EQ(system.messages[0].text, "ERROR: Could not open IDEQUERY.VXD file");
  EXPECT_EQ(system.messages[0].caption, "IdeQuery");
  EXPECT_EQ(system.messages[0].style, 0x10u);  // MB_ICONERROR | MB_OK
  // The box is on screen while the process still runs at realtime priority.
  EXPECT_THAT(journal, ElementsAre("priority realtime", "vxd", "box", "priority normal"));
}

// ---- SAT pass-through layouts --------------------------------------------

TEST(IdentifyAtaPassThrough, IdentifyCommandBlock) {
  IdeRegisters regs;
  regs.bSectorCountReg = 1;
  regs.bSectorNumberReg = 1;
  regs.bDriveHeadReg = 0xB0;
  regs.bCommandReg = 0xA1;
  EXPECT_THAT(BuildIdentifyPassThrough16(regs),
              ElementsAre(0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0xA0, 0xA1, 0));
}

TEST(IdentifyAtaPassThrough, PacketSignatureInBothSenseFormats) {
  // Descriptor format: an unrelated descriptor first, then ATA Status Return.
  const uint8_t descriptor[] = {
      0x72, 0x0B, 0x00, 0x00, 0,    0,    0,    18,   0x80, 0x02, 0x00, 0x00,  // some other descriptor
      0x09, 0x0C, 0x00, 0x04, 0x00, 0x01, 0x00, 0x01, 0x00, 0x14, 0x00, 0xEB, 0xA0, 0x51};
  auto regs = ParseAtaReturnSense(descriptor, sizeof descriptor);
  ASSERT_TRUE(regs);
  EXPECT_EQ(regs->status, 0x51);
  EXPECT_EQ(regs->device, 0xA0);
  EXPECT_TRUE(IsPacketDeviceAbort(*regs));
  EXPECT_FALSE(ParseAtaReturnSense(descriptor, sizeof descriptor - 1));  // cut short

  const uint8_t fixed[18] = {0x70, 0, 0x0B, 0x04, 0x51, 0xA0, 0x01, 10, 0, 0x01, 0x14, 0xEB};
  regs = ParseAtaReturnSense(fixed, sizeof fixed);
  ASSERT_TRUE(regs);
  EXPECT_TRUE(IsPacketDeviceAbort(*regs));
  EXPECT_FALSE(ParseAtaReturnSense(fixed, 11));
}

TEST(IdentifyAtaPassThrough, OnlyAbortWithSignatureIsPacketDevice) {
  AtaReturnRegisters regs{0x04, 1, 1, 0x14, 0xEB, 0xA0, 0x51};
  EXPECT_TRUE(IsPacketDeviceAbort(regs));
  regs.status = 0x50;  // no error
  EXPECT_FALSE(IsPacketDeviceAbort(regs));
  regs = {0x04, 1, 1, 0x00, 0x00, 0xA0, 0x51};  // an ATA disk refusing
  EXPECT_FALSE(IsPacketDeviceAbort(regs));
  const uint8_t unknown[] = {0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x14, 0xEB};
  EXPECT_FALSE(ParseAtaReturnSense(unknown, sizeof unknown));
}

TEST(IdentifyAtaPassThrough, IntegrityWord) {
  IdentifyBlock block = FakeIdentifyBlockWithModel("CHECKED");
  EXPECT_TRUE(IdentifyChecksumValid(block));  // no signature: nothing to check
  block[510] = 0xA5;
  uint8_t sum = 0;
  for (std::size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + block[i]);
  block[511] = static_cast<uint8_t>(0x100 - sum);
  EXPECT_TRUE(IdentifyChecksumValid(block));
  block[60] ^= 0x01;
  EXPECT_FALSE(IdentifyChecksumValid(block));
}

// ---- real ports, where they run without hardware -------------------------
