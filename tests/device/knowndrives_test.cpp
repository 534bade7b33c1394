#include "device/knowndrives.h"

#include <gtest/gtest.h>

using zentrova::device::lookupdrive;

TEST(LookupDrive, FirstRowThatNamesTheAttributeDecides) {
    // Rows 6 and 7 apply; row 6 names 9, 192 and 198 and says nothing of 194.
    EXPECT_EQ(lookupdrive("FUJITSU MHS2020AT", "", 192), 1);
    EXPECT_EQ(lookupdrive("FUJITSU MHS2020AT", "", 9), 3);
    EXPECT_EQ(lookupdrive("FUJITSU MHS2020AT", "", 194), 0);
    EXPECT_EQ(lookupdrive("FUJITSU MHR2040AT", "", 200), 1);
    EXPECT_EQ(lookupdrive("FUJITSU MHR2040AT", "", 201), 0);
    EXPECT_EQ(lookupdrive("SAMSUNG SV1204H", "RK100-1", 9), 4);
    EXPECT_EQ(lookupdrive("FUJITSU MHS2020AT", "", 0), 0);
    // A model holding both "Maxtor 2B0" and "FUJITSU MH" gets 194 from the
    // Maxtor row, because the Fujitsu rows, earlier in the table, do not name it.
    EXPECT_EQ(lookupdrive("FUJITSU MH / Maxtor 2B0", "", 194), 2);
    EXPECT_EQ(lookupdrive("FUJITSU MH / Maxtor 2B0", "", 9), 3);
}

TEST(LookupDrive, PatternsArePlainCaseSensitiveSubstringsAndFirmwareIsIgnored) {
    EXPECT_EQ(lookupdrive("xx Maxtor 4R080J0", "", 9), 1) << "match in the middle";
    EXPECT_EQ(lookupdrive("maxtor 6y080l0", "", 9), 0) << "case matters";
    EXPECT_EQ(lookupdrive("SAMSUNG SP1234", "x-2", 9), 0) << ".*$ is not a regular expression";
    EXPECT_EQ(lookupdrive("SAMSUNG .*$ HD", "", 9), 4) << "but taken literally it matches";
    EXPECT_EQ(lookupdrive("Maxtor 9$", "", 9), 1);
    EXPECT_EQ(lookupdrive("Maxtor 91000D8", "", 9), 0);
    EXPECT_EQ(lookupdrive(nullptr, nullptr, 9), 0);
    EXPECT_EQ(lookupdrive("", "", 9), 0);
    for (const char* fw : {"", "RK100-1", "anything", static_cast<const char*>(nullptr)})
        EXPECT_EQ(lookupdrive("SAMSUNG SV1204H", fw, 194), 1);
}
