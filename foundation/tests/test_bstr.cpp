// Automation string conversions.
#include "qm/bstr.h"

#include <gtest/gtest.h>

TEST(Bstr, RoundTripsAndEdges)
{
    EXPECT_EQ(qm::bstr_to_string(_bstr_t()), "");
    EXPECT_EQ(qm::bstr_to_string(_bstr_t("")), "");
    EXPECT_EQ(qm::bstr_to_string(_bstr_t("plain text")), "plain text");

    const char* text = "Gr\xC3\xBC\xC3\x9F"
                       "e \xE2\x82\xAC";
    BSTR b = qm::string_to_bstr(text);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 7u);
    EXPECT_EQ(qm::bstr_to_string(_bstr_t(b, false)), text);

    BSTR empty = qm::string_to_bstr(std::string());
    ASSERT_NE(empty, nullptr); // an empty text, not a null string
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);

    // A character the narrow text cannot hold (an unpaired surrogate) comes out
    // as the replacement character.
    const OLECHAR broken[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(qm::bstr_to_string(_bstr_t(broken)),
              "a\xEF\xBF\xBD"
              "b");
}
