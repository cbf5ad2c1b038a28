#include <gtest/gtest.h>

#include <string>

#include "common/ProfileFile.h"

namespace {

// A file as a user might have edited it: other sections, comments, blanks, mixed line ends.
const std::string kEdited = "; settings\r\n"
                            "[Other]\n"
                            "com=COM9\r\n"
                            "\r\n"
                            "[COM INFO]\r\n"
                            "  COM =  COM3  \r\n"
                            "baut=9600\n"
                            "\r\n"
                            "[tail]\r\n"
                            "x=1";

TEST(ProfileRead, FindsSectionAndKeyWithoutRegardToCaseAndDropsBlanks) {
    EXPECT_EQ(ProfileRead(kEdited, "com Info", "com"), "COM3");
    EXPECT_EQ(ProfileRead(kEdited, "com info", "BAUT"), "9600");
    EXPECT_EQ(ProfileRead(kEdited, "other", "com"), "COM9");
    EXPECT_EQ(ProfileRead(kEdited, "tail", "x"), "1"); // last line without a line end
}

TEST(ProfileRead, MissingFileSectionOrKeyGiveNothingButEmptyValueIsEmpty) {
    EXPECT_EQ(ProfileRead("", "com Info", "com"), std::nullopt);
    EXPECT_EQ(ProfileRead(kEdited, "nowhere", "com"), std::nullopt);
    EXPECT_EQ(ProfileRead(kEdited, "com Info", "x"), std::nullopt); // x is in another section
    EXPECT_EQ(ProfileRead("[s]\r\nk=\r\n", "s", "k"), "");
    EXPECT_EQ(ProfileRead("[s]\r\nk = \t \r\n", "s", "k"), "");
    EXPECT_EQ(ProfileRead("k=1\r\n[s]\r\n", "s", "k"), std::nullopt); // key before any section
}

TEST(ProfileRead, FirstOfDuplicateSectionsAndKeysWins) {
    const std::string content = "[s]\r\nk=first\r\nk=second\r\n[S]\r\nk=third\r\nj=only\r\n";
    EXPECT_EQ(ProfileRead(content, "s", "k"), "first");
    EXPECT_EQ(ProfileRead(content, "s", "j"), std::nullopt);
}

TEST(ProfileRead, KeepsEqualsSignsInsideTheValueAndCutsLongValues) {
    EXPECT_EQ(ProfileRead("[s]\r\nk=a=b\r\n", "s", "k"), "a=b");
    const std::string longValue(3000, 'v');
    const auto read = ProfileRead("[s]\r\nk=" + longValue + "\r\n", "s", "k");
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, std::string(kMaxProfileValueLength, 'v'));
    EXPECT_EQ(kMaxProfileValueLength, 2047u);
}

TEST(ProfileWrite, IntoNothingWritesSectionAndKeyWithCrLf) {
    std::string content = ProfileWrite("", "com Info", "com", "COM3");
    content = ProfileWrite(content, "com Info", "baut", "9600");
    EXPECT_EQ(content, "[com Info]\r\ncom=COM3\r\nbaut=9600\r\n");
}

TEST(ProfileWrite, ReplacesInPlaceAndKeepsEveryOtherLineByteForByte) {
    const std::string written = ProfileWrite(kEdited, "com info", "Com", "COM4");
    EXPECT_EQ(written, "; settings\r\n"
                       "[Other]\n"
                       "com=COM9\r\n"
                       "\r\n"
                       "[COM INFO]\r\n"
                       "COM=COM4\r\n"
                       "baut=9600\n"
                       "\r\n"
                       "[tail]\r\n"
                       "x=1");
}

TEST(ProfileWrite, KeepsTheSpellingOfAnExistingKeyAndTheSectionHeader) {
    const std::pair<const char*, const char*> cases[] = {
        {"[com Info]\r\nCOM=com9\r\nbaut=9600\r\n", "[com Info]\r\nCOM=COM9\r\nbaut=9600\r\n"},
        {"[COM INFO]\r\ncom=com9\r\n", "[COM INFO]\r\ncom=COM9\r\n"},
        {"  [ Com info ]  ; mine\r\n\tcOm = x\r\n", "  [ Com info ]  ; mine\r\ncOm=COM9\r\n"},
        // A new key is spelt as asked; the header still stays as it was.
        {"[COM INFO]\r\nbaut=9600\r\n", "[COM INFO]\r\nbaut=9600\r\ncom=COM9\r\n"},
    };
    for (const auto& [before, after] : cases)
        EXPECT_EQ(ProfileWrite(before, "com Info", "com", "COM9"), after) << before;
}

TEST(ProfileWrite, MissingKeyGoesAfterTheLastFilledLineOfItsSection) {
    EXPECT_EQ(ProfileWrite(kEdited, "com Info", "parity", "N"), "; settings\r\n"
                                                                "[Other]\n"
                                                                "com=COM9\r\n"
                                                                "\r\n"
                                                                "[COM INFO]\r\n"
                                                                "  COM =  COM3  \r\n"
                                                                "baut=9600\n"
                                                                "parity=N\r\n"
                                                                "\r\n"
                                                                "[tail]\r\n"
                                                                "x=1");
    EXPECT_EQ(ProfileWrite("[s]\r\n[t]\r\n", "s", "k", "v"), "[s]\r\nk=v\r\n[t]\r\n");
}

TEST(ProfileWrite, AddsTheMissingLineEndBeforeAppending) {
    EXPECT_EQ(ProfileWrite(kEdited, "tail", "y", "2"), kEdited + "\r\ny=2\r\n");
    EXPECT_EQ(ProfileWrite("[a]\r\nk=1", "b", "k", "2"), "[a]\r\nk=1\r\n[b]\r\nk=2\r\n");
    EXPECT_EQ(ProfileWrite("[s]", "s", "k", "v"), "[s]\r\nk=v\r\n");
    // A rewritten last line gets its line end too.
    EXPECT_EQ(ProfileWrite("[s]\r\nk=1", "s", "k", "2"), "[s]\r\nk=2\r\n");
}

TEST(ProfileWrite, WritesIntoTheFirstOfDuplicates) {
    const std::string content = "[s]\r\nk=1\r\nk=2\r\n[s]\r\nk=3\r\n";
    EXPECT_EQ(ProfileWrite(content, "S", "K", "9"), "[s]\r\nk=9\r\nk=2\r\n[s]\r\nk=3\r\n");
    EXPECT_EQ(ProfileWrite("[s]\r\n[s]\r\nj=1\r\n", "s", "j", "2"), "[s]\r\nj=2\r\n[s]\r\nj=1\r\n");
}

TEST(ProfileWrite, LineEndsAndBlanksInsideNamesOrValueCannotBreakTheFile) {
    const std::string written = ProfileWrite("", " s ", " k ", " COM3\r\n[evil]\r\nk=x");
    EXPECT_EQ(written, "[s]\r\nk=COM3\r\n");
    EXPECT_EQ(ProfileRead(written, "evil", "k"), std::nullopt);
}

TEST(ProfileFile, WhatIsWrittenReadsBack) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM3", "COM3"}, {"", ""}, {"a=b", "a=b"}, {"115200", "115200"}, {"  padded\t", "padded"}};
    for (const auto& [value, readBack] : cases) {
        const std::string content = ProfileWrite(kEdited, "com Info", "com", value);
        EXPECT_EQ(ProfileRead(content, "COM INFO", "com"), readBack) << value;
    }
}

// Junk must neither crash nor hang; what matters is a defined answer and an intact rest.
TEST(ProfileFile, SurvivesBinaryJunkHugeLinesAndHugeFiles) {
    std::string junk;
    for (int i = 0; i < 4096; ++i)
        junk.push_back(static_cast<char>((i * 131 + 7) % 256));
    const std::string hugeLine(100000, '[');
    const std::string noLineEnds(2 * 1024 * 1024, 'k');
    std::string manyLines;
    while (manyLines.size() < 2 * 1024 * 1024)
        manyLines += "key=value\r\n[sec]\n=\r\n";

    const std::string* const contents[] = {&junk, &hugeLine, &noLineEnds, &manyLines};
    for (const std::string* content : contents) {
        (void)ProfileRead(*content, "com Info", "com");
        const std::string written = ProfileWrite(*content, "com Info", "com", "COM3");
        EXPECT_EQ(written.compare(0, content->size(), *content), 0)
            << "the old bytes stay in front";
        EXPECT_EQ(ProfileRead(written, "com Info", "com"), "COM3");
    }
}

} // namespace
