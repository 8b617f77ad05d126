// Exception family, system error texts, WinSock error names and error codes.
#include "qm/errorcode.h"
#include "qm/exception.h"

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// A Win32 number the system has no text for.
DWORD textless_error()
{
    for (DWORD n : {1234u, 0x7FFF1234u, 0x20001234u})
        if (qm::wapi::error_text(n).empty())
            return n;
    ADD_FAILURE() << "every candidate number has a system text";
    return 0;
}

} // namespace

TEST(Exception, FormattedMessageIsCutAt511)
{
    std::string long_text(600, 'x');
    qm::exception_t cut("%s", long_text.c_str());
    EXPECT_EQ(cut.message, std::string(511, 'x'));

    std::string exact(511, 'y');
    qm::exception_t whole("%s", exact.c_str());
    EXPECT_EQ(whole.message, exact);

    qm::exception_t numbers("Illegal index %i for vector with %i element(s).", 7, 3);
    EXPECT_STREQ(numbers.what(), "Illegal index 7 for vector with 3 element(s).");
}

TEST(Exception, PlainTextIsNeverReadAsFormat)
{
    // Runtime text with conversions in it must come out as given, at any length.
    const char* runtime = "100% done %s %n";
    EXPECT_STREQ(qm::exception_t(runtime).what(), runtime);
    EXPECT_EQ(qm::exception_t(std::string(runtime)).message, runtime);
    std::string long_text(2000, 'z');
    EXPECT_EQ(qm::exception_t(long_text).message.size(), 2000u);
    EXPECT_EQ(qm::proc::exception_t(runtime).message, runtime);
    EXPECT_EQ(qm::wapi::exception_t("50%s").message.substr(0, 5), "50%s:");
}

TEST(Exception, WhatOfEmptyTextIsEmptyNotNull)
{
    qm::exception_t empty("");
    ASSERT_NE(empty.what(), nullptr);
    EXPECT_STREQ(empty.what(), "");
    qm::exception_t from_null(static_cast<const char*>(nullptr));
    ASSERT_NE(from_null.what(), nullptr);
    EXPECT_STREQ(from_null.what(), "");
}

TEST(Exception, WapiTextsWithAndWithoutSystemText)
{
    DWORD n = textless_error();
    SetLastError(n);
    qm::wapi::exception_t plain;
    EXPECT_EQ(plain.error, n);
    EXPECT_EQ(plain.message, "WinAPI error# " + std::to_string(static_cast<int>(n)));

    SetLastError(n);
    qm::wapi::exception_t with_context("WAIT_FAILED in thread_t::stop");
    EXPECT_EQ(with_context.message,
              "WAIT_FAILED in thread_t::stop: WinAPI error# " + std::to_string(static_cast<int>(n)));

    // A number with system text: the text without its line end.
    std::string text = qm::wapi::error_text(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    SetLastError(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(qm::wapi::last_error_text(), text);
    SetLastError(ERROR_FILE_NOT_FOUND);
    qm::wapi::exception_t known("ctx");
    EXPECT_EQ(known.message, "ctx: " + text);
    EXPECT_EQ(known.error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

TEST(Exception, ThreadStopIsNotAProcFailure)
{
    bool caught_as_proc = false;
    bool caught_as_root = false;
    try {
        try {
            throw qm::proc::thread_stop_exception_t();
        } catch (const qm::proc::exception_t&) {
            caught_as_proc = true;
        }
    } catch (const qm::exception_t& e) {
        caught_as_root = true;
        EXPECT_STREQ(e.what(), "thread stop signaled");
    }
    EXPECT_FALSE(caught_as_proc);
    EXPECT_TRUE(caught_as_root);
}

TEST(Exception, CopiesKeepMessageAndField)
{
    WSASetLastError(10060);
    qm::net::exception_t original;
    qm::net::exception_t copy = original;
    EXPECT_EQ(copy.error, 10060);
    EXPECT_EQ(copy.message, "connection timed out");

    qm::errorcode_t code(qm::errorcode_t::qmnet_sock_timeout, "ctx");
    qm::errorcode_t code_copy(code);
    EXPECT_EQ(code_copy.code, 0x20000302u);
    EXPECT_EQ(code_copy.message, code.message);

    // Caught through the root by reference, the most derived text survives.
    try {
        throw code;
    } catch (const qm::exception_t& e) {
        EXPECT_STREQ(e.what(), "ctx: sockets timeout");
    }
}

TEST(WinSockNames, TableEntries)
{
    EXPECT_EQ(qm::net::error_name(10060), "connection timed out");
    EXPECT_EQ(qm::net::error_name(10056), "Socket is already connected");
    EXPECT_EQ(qm::net::error_name(-1), "WSA_WAIT_FAILED");
    EXPECT_EQ(qm::net::error_name(997), "WSA_IO_PENDING");
    EXPECT_EQ(qm::net::error_name(10059), "too many references: cannot splice");
    EXPECT_EQ(qm::net::error_name(11004), "WSANO_DATA");
}

TEST(WinSockNames, OtherNumbersFallBackToSystemText)
{
    std::string system = qm::wapi::error_text(2);
    ASSERT_FALSE(system.empty());
    EXPECT_EQ(qm::net::error_name(2), system + " (system error)");

    DWORD n = textless_error();
    EXPECT_EQ(qm::net::error_name(static_cast<int>(n)), "WinSock error# " + std::to_string(static_cast<int>(n)));
}

TEST(ErrorCode, MessagesAndDuplicateRows)
{
    EXPECT_EQ(qm::errorcode_table_size, 38u);
    EXPECT_EQ(qm::errorcode_t(0x20000302, "client socket timeout").message, "client socket timeout: sockets timeout");
    // Duplicate codes: the first row of the pair always wins.
    EXPECT_EQ(qm::errorcode_t(0x20000303, "c").message, "c: malformed network address");
    EXPECT_EQ(qm::errorcode_t(qm::errorcode_t::qmnet_bad_address, "c").message, "c: malformed network address");
    EXPECT_EQ(qm::errorcode_t(0x20000103, "c").message, "c: no configuration file");
    EXPECT_EQ(qm::errorcode_t(0x12345, "ctx").message, "ctx: unkown qm::errorcode 0x12345");
    EXPECT_EQ(qm::errorcode_t(0xABCDEF01, "ctx").message, "ctx: unkown qm::errorcode 0xABCDEF01");
    EXPECT_EQ(qm::errorcode_t(0, "x").message, "x: this is not an error");
    EXPECT_EQ(qm::errorcode_t(0x200003FF, "x").code, 0x200003FFu);
}
