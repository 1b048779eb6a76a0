// The two MBR boot code images and the identification of an MBR's boot code.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bootcode/boot_code.h"
#include "disk/disk_device.h"
#include "memory_fixture.h"
#include "memory_run.h"
#include "report_text.h"
#include "sha256.h"

namespace {

std::string TextAt(const uint8_t* image, unsigned offset, size_t length) {
    return std::string(reinterpret_cast<const char*>(image + offset), length);
}

TEST(BootCodeTest, Sha256OfAKnownMessage) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(BootCodeTest, Template1IsTheWindowsXpImage) {
    EXPECT_EQ(Sha256Hex(BootCodeTemplate1, BootCodeSize),
              "2b05e6b69b606894f940740ee299322c481dedf503107f4680e766202cbee212");

    // It copies itself to 0x0600 and goes on there.
    const uint8_t start[27] = {0x33, 0xC0, 0x8E, 0xD0, 0xBC, 0x00, 0x7C, 0xFB, 0x50,
                               0x07, 0x50, 0x1F, 0xFC, 0xBE, 0x1B, 0x7C, 0xBF, 0x1B,
                               0x06, 0x50, 0x57, 0xB9, 0xE5, 0x01, 0xF3, 0xA4, 0xCB};
    EXPECT_EQ(std::memcmp(BootCodeTemplate1, start, sizeof start), 0);

    const struct {
        unsigned offset;
        std::string text;
    } messages[] = {
        {0x12C, "Invalid partition table"},
        {0x144, "Error loading operating system"},
        {0x163, "Missing operating system"},
    };
    for (const auto& [offset, text] : messages) {
        EXPECT_EQ(TextAt(BootCodeTemplate1, offset, text.size()), text);
        EXPECT_EQ(BootCodeTemplate1[offset + text.size()], 0) << text;
    }
    for (unsigned i = 0x17C; i <= 0x1B4; ++i)
        EXPECT_EQ(BootCodeTemplate1[i], 0) << "byte " << i;
    // The low bytes of the three messages' addresses.
    EXPECT_EQ(BootCodeTemplate1[0x1B5], 0x2C);
    EXPECT_EQ(BootCodeTemplate1[0x1B6], 0x44);
    EXPECT_EQ(BootCodeTemplate1[0x1B7], 0x63);
}

TEST(BootCodeTest, Template2DiffersInExactlyTheTwentyListedBytes) {
    const struct {
        unsigned offset;
        uint8_t first, second;
    } changes[] = {
        {0x0CA, 0xB8, 0xEB}, {0x0CB, 0x01, 0x1A}, {0x0CC, 0x02, 0x90}, {0x19F, 0x00, 0x4D},
        {0x1A0, 0x00, 0xB9}, {0x1A1, 0x00, 0x2A}, {0x1A2, 0x00, 0x67}, {0x1A5, 0x00, 0x80},
        {0x1A6, 0x00, 0x01}, {0x1A7, 0x00, 0x01}, {0x1A9, 0x00, 0x01}, {0x1AA, 0x00, 0xFE},
        {0x1AB, 0x00, 0x3F}, {0x1AC, 0x00, 0x01}, {0x1AD, 0x00, 0x3F}, {0x1B1, 0x00, 0x43},
        {0x1B2, 0x00, 0x7D}, {0x1B5, 0x2C, 0x00}, {0x1B6, 0x44, 0x00}, {0x1B7, 0x63, 0x01},
    };
    bool listed[BootCodeSize] = {};
    for (const auto& [offset, first, second] : changes) {
        listed[offset] = true;
        EXPECT_EQ(BootCodeTemplate1[offset], first) << "template 1 at " << offset;
        EXPECT_EQ(BootCodeTemplate2[offset], second) << "template 2 at " << offset;
    }
    int differing = 0;
    for (unsigned i = 0; i < BootCodeSize; ++i) {
        if (BootCodeTemplate1[i] != BootCodeTemplate2[i])
            ++differing;
        if (!listed[i]) {
            EXPECT_EQ(BootCodeTemplate1[i], BootCodeTemplate2[i]) << "byte " << i;
        }
    }
    EXPECT_EQ(differing, 20);
}

class IdentifyBootCodeTest : public MemoryDriveTest {
  protected:
    void LoadCode(const uint8_t* code) { std::memcpy(SectorBuffer, code, BootCodeSize); }
};

TEST_F(IdentifyBootCodeTest, Template1WhateverTheBytesAfterTheCode) {
    LoadCode(BootCodeTemplate1);
    EXPECT_EQ(IdentifyBootCode(), 1);
    for (unsigned i = BootCodeSize; i < BootRecordSize; ++i)
        SectorBuffer[i] = static_cast<uint8_t>(i * 13 + 5);
    EXPECT_EQ(IdentifyBootCode(), 1);
    std::memset(SectorBuffer + BootCodeSize, 0xFF, BootRecordSize - BootCodeSize);
    EXPECT_EQ(IdentifyBootCode(), 1);
}

TEST_F(IdentifyBootCodeTest, Template2WhateverTheBytesAfterTheCode) {
    LoadCode(BootCodeTemplate2);
    EXPECT_EQ(IdentifyBootCode(), 2);
    std::memset(SectorBuffer + BootCodeSize, 0xA5, BootRecordSize - BootCodeSize);
    EXPECT_EQ(IdentifyBootCode(), 2);
}

TEST_F(IdentifyBootCodeTest, OneChangedByteMatchesNeither) {
    LoadCode(BootCodeTemplate1);
    SectorBuffer[0x0CA] = 0xEB; // template 2's byte, but only this one
    EXPECT_EQ(IdentifyBootCode(), 0);
    SectorBuffer[0x0CA] = 0xB9;
    EXPECT_EQ(IdentifyBootCode(), 0);
    LoadCode(BootCodeTemplate1);
    SectorBuffer[BootCodeSize - 1] ^= 0x01; // the last compared byte
    EXPECT_EQ(IdentifyBootCode(), 0);
    LoadCode(BootCodeTemplate2);
    SectorBuffer[0] = 0x00;
    EXPECT_EQ(IdentifyBootCode(), 0);
    std::memset(SectorBuffer, 0, BootRecordSize);
    EXPECT_EQ(IdentifyBootCode(), 0);
}

class BootCodeReportTest : public MemoryDriveTest {};

const std::string Header64Sectors = DiskHeader(0, "Size 64 = 0 MB (0 MiB)");

TEST_F(BootCodeReportTest, UnsignedMbrIsIdentifiedBeforeItsSignatureIsTested) {
    DiskImage image = BlankDisk(64);
    std::memcpy(image.At(0).data(), BootCodeTemplate1, BootCodeSize);
    MemoryRun run = RunOnImage(image);
    const std::string verdict = "MBR sector signature is not 0xaa55. (0000)\n";
    EXPECT_EQ(run.summary, Header64Sectors + verdict) << "no boot code line in the summary";
    EXPECT_EQ(run.detail[0], Header64Sectors + HexDump(image.Get(0)) + "MBRcode type 1\n" +
                                 verdict + HexDump(image.Get(0)));
}

TEST_F(BootCodeReportTest, SignedMbrWithTemplate2) {
    DiskImage image = BlankDisk(64);
    std::memcpy(image.At(0).data(), BootCodeTemplate2, BootCodeSize);
    PutLe(image.At(0).data() + 440, 0x12345678, 4); // disk signature, not compared
    Sign(image, 0);
    MemoryRun run = RunOnImage(image);
    const std::string start =
        Header64Sectors + HexDump(image.Get(0)) + "MBRcode type 2\n" + ListingHeader;
    EXPECT_EQ(run.detail[0].substr(0, start.size()), start);
    EXPECT_EQ(run.summary.find("MBRcode"), std::string::npos);
}

TEST_F(BootCodeReportTest, OtherBootCodeFailsTheComparison) {
    DiskImage image = BlankDisk(64);
    std::memcpy(image.At(0).data(), BootCodeTemplate1, BootCodeSize);
    image.At(0)[0x0CA] = 0xEB;
    Sign(image, 0);
    MemoryRun run = RunOnImage(image);
    const std::string start = Header64Sectors + HexDump(image.Get(0)) + "MBRcode compare failed\n";
    EXPECT_EQ(run.detail[0].substr(0, start.size()), start);
}

TEST_F(BootCodeReportTest, AllZeroMbrIsNeverCompared) {
    MemoryRun run = RunOnImage(BlankDisk(64));
    EXPECT_EQ(run.detail[0].find("MBRcode"), std::string::npos);
    EXPECT_EQ(run.detail[0].substr(0, Header64Sectors.size() + 24),
              Header64Sectors + "MBR sector is all zero.\n");
}

} // namespace
