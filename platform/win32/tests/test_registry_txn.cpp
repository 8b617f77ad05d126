// Transacted registry writes: staging, reads through the transaction, commit
// all or nothing, rollback, close and time-out, other processes.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include <windows.h>

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// Runs check in a child process; true when it returned true.
bool in_child(const std::function<bool()>& check)
{
    pid_t child = fork();
    if (child == 0)
        _exit(check() ? 0 : 1);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

const char kKey[] = "SOFTWARE\\Quillon\\Tunedeck";

class RegistryTxn : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/vx_regtxn_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        vx_registry_reset();
        hive = dir + "/veltrix/user.reg";
        HKEY k = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
        ASSERT_EQ(set_dword(k, "Retries", 2), 0);
        ASSERT_EQ(set_dword(k, "Timeout", 150), 0);
        RegCloseKey(k);
    }
    void TearDown() override
    {
        vx_registry_reset();
        std::system(("rm -rf '" + dir + "'").c_str());
    }

    static LONG set_dword(HKEY k, const char* name, DWORD v)
    {
        return RegSetValueExA(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
    }
    // The value through k, 0xFFFFFFFF when it cannot be read.
    static DWORD dword(HKEY k, const char* name)
    {
        DWORD v = 0, size = 4;
        return RegQueryValueExA(k, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&v), &size) == ERROR_SUCCESS
            ? v
            : 0xFFFFFFFFu;
    }
    // The saved value, read the plain way.
    static DWORD saved(const char* name, const char* key = kKey)
    {
        HKEY k = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &k) != ERROR_SUCCESS)
            return 0xFFFFFFFEu;
        DWORD v = dword(k, name);
        RegCloseKey(k);
        return v;
    }
    HKEY open_in(HANDLE txn, const char* path = kKey)
    {
        HKEY k = nullptr;
        EXPECT_EQ(RegOpenKeyTransactedA(HKEY_CURRENT_USER, path, 0, KEY_READ | KEY_WRITE, &k, txn, nullptr),
                  ERROR_SUCCESS);
        return k;
    }
    static HANDLE new_txn(DWORD timeout = 0)
    {
        HANDLE t = CreateTransaction(nullptr, nullptr, 0, 0, 0, timeout, nullptr);
        EXPECT_NE(t, INVALID_HANDLE_VALUE);
        return t;
    }

    std::string dir, hive;
};

TEST_F(RegistryTxn, StagedWritesAreSeenThroughTheTransactionOnlyAndCommitTogether)
{
    HANDLE txn = new_txn();
    HKEY k = open_in(txn);
    ASSERT_EQ(set_dword(k, "Retries", 5), 0);
    ASSERT_EQ(set_dword(k, "Delay", 25), 0);
    ASSERT_EQ(RegDeleteValueA(k, "Timeout"), 0);
    EXPECT_EQ(RegDeleteValueA(k, "Timeout"), ERROR_FILE_NOT_FOUND); // already gone in the transaction
    DWORD disposition = 0;
    HKEY sub = nullptr;
    ASSERT_EQ(
        RegCreateKeyTransactedA(k, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, &disposition, txn, nullptr), 0);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    // A key opened below a transacted key belongs to the transaction too.
    HKEY below = nullptr;
    ASSERT_EQ(RegOpenKeyExA(k, "Sub", 0, KEY_ALL_ACCESS, &below), 0);
    ASSERT_EQ(set_dword(below, "Deep", 7), 0);
    RegCloseKey(below);
    ASSERT_EQ(RegCreateKeyTransactedA(k, "sub", 0, nullptr, 0, KEY_READ, nullptr, &below, &disposition, txn, nullptr),
              0);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(below);

    // Reads through the transaction see the staged state ...
    EXPECT_EQ(dword(k, "Retries"), 5u);
    EXPECT_EQ(dword(k, "Delay"), 25u);
    EXPECT_EQ(dword(k, "Timeout"), 0xFFFFFFFFu);
    EXPECT_EQ(dword(sub, "Deep"), 7u);
    DWORD values = 0, subs = 0;
    ASSERT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &subs, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr),
              0);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(subs, 1u);
    // ... nobody else does: not this process, not the file, not another process.
    const std::string before = slurp(hive);
    EXPECT_EQ(saved("Retries"), 2u);
    EXPECT_EQ(saved("Timeout"), 150u);
    EXPECT_EQ(saved("Deep", "SOFTWARE\\Quillon\\Tunedeck\\Sub"), 0xFFFFFFFEu);
    EXPECT_TRUE(in_child([] { return saved("Retries") == 2 && saved("Delay") == 0xFFFFFFFFu; }));
    EXPECT_EQ(WaitForSingleObject(txn, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // A plain write meanwhile is kept by the commit.
    HKEY plain = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &plain), 0);
    ASSERT_EQ(set_dword(plain, "Switches", 15), 0);
    EXPECT_EQ(dword(k, "Switches"), 15u); // the transaction reads it too

    ASSERT_TRUE(CommitTransaction(txn));
    EXPECT_NE(slurp(hive), before);
    EXPECT_EQ(dword(plain, "Retries"), 5u);
    EXPECT_EQ(dword(plain, "Delay"), 25u);
    EXPECT_EQ(dword(plain, "Timeout"), 0xFFFFFFFFu);
    EXPECT_EQ(dword(plain, "Switches"), 15u);
    EXPECT_EQ(saved("Deep", "SOFTWARE\\Quillon\\Tunedeck\\Sub"), 7u);
    EXPECT_TRUE(in_child([] {
        return saved("Retries") == 5 && saved("Delay") == 25 && saved("Deep", "SOFTWARE\\Quillon\\Tunedeck\\Sub") == 7;
    }));
    EXPECT_EQ(WaitForSingleObject(txn, 0), static_cast<DWORD>(WAIT_OBJECT_0)); // signalled once ended

    // The ended transaction's keys can only be closed; it cannot end twice.
    EXPECT_EQ(set_dword(k, "Retries", 9), ERROR_TRANSACTION_NOT_ACTIVE);
    EXPECT_EQ(dword(k, "Retries"), 0xFFFFFFFFu);
    EXPECT_FALSE(CommitTransaction(txn));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TRANSACTION_ALREADY_COMMITTED));
    EXPECT_FALSE(RollbackTransaction(txn));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TRANSACTION_ALREADY_COMMITTED));
    HKEY late = nullptr;
    EXPECT_EQ(RegOpenKeyTransactedA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &late, txn, nullptr),
              ERROR_TRANSACTION_NOT_ACTIVE);
    EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(sub), ERROR_SUCCESS);
    RegCloseKey(plain);
    EXPECT_TRUE(CloseHandle(txn));
}

TEST_F(RegistryTxn, FailedCommitChangesNothingAnywhere)
{
    const std::string before = slurp(hive);
    // The save fails: a file size limit (in a child, so it does not stay).
    EXPECT_TRUE(in_child([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{static_cast<rlim_t>(before.size()), static_cast<rlim_t>(before.size())};
        setrlimit(RLIMIT_FSIZE, &lim);
        HANDLE txn = CreateTransaction(nullptr, nullptr, 0, 0, 0, 0, nullptr);
        HKEY k = nullptr;
        if (RegOpenKeyTransactedA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &k, txn, nullptr))
            return false;
        for (int i = 0; i < 10; ++i)
            if (set_dword(k, ("v" + std::to_string(i)).c_str(), static_cast<DWORD>(i)))
                return false;
        if (set_dword(k, "Retries", 9))
            return false;
        if (CommitTransaction(txn) || GetLastError() != ERROR_CANTWRITE)
            return false;
        // Memory is as before too, and the transaction is over.
        return saved("Retries") == 2 && saved("v0") == 0xFFFFFFFFu &&
            set_dword(k, "x", 1) == ERROR_TRANSACTION_NOT_ACTIVE;
    }));
    EXPECT_EQ(slurp(hive), before);

    // The save fails: the lock file cannot be opened (a directory).
    HANDLE txn = new_txn();
    HKEY k = open_in(txn);
    ASSERT_EQ(set_dword(k, "Retries", 9), 0);
    ASSERT_EQ(set_dword(k, "Timeout", 990), 0);
    ASSERT_EQ(unlink((hive + ".lock").c_str()), 0);
    ASSERT_EQ(mkdir((hive + ".lock").c_str(), 0700), 0);
    EXPECT_FALSE(CommitTransaction(txn));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANTWRITE));
    EXPECT_EQ(slurp(hive), before);
    EXPECT_EQ(saved("Retries"), 2u);
    EXPECT_EQ(saved("Timeout"), 150u);
    EXPECT_EQ(WaitForSingleObject(txn, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_FALSE(CommitTransaction(txn)); // rolled back by the failure
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TRANSACTION_ALREADY_ABORTED));
    RegCloseKey(k);
    CloseHandle(txn);
    ASSERT_EQ(rmdir((hive + ".lock").c_str()), 0);

    // A staged change that another writer made impossible fails the commit whole.
    txn = new_txn();
    HKEY sub = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Gone", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), 0);
    RegCloseKey(sub);
    k = open_in(txn);
    sub = open_in(txn, "Software\\Gone");
    ASSERT_EQ(set_dword(k, "Retries", 9), 0);
    ASSERT_EQ(set_dword(sub, "x", 1), 0);
    const std::string with_gone = slurp(hive);
    EXPECT_TRUE(in_child([] { return RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Gone") == ERROR_SUCCESS; }));
    EXPECT_EQ(dword(sub, "x"), 0xFFFFFFFFu); // the view follows the saved hive
    EXPECT_FALSE(CommitTransaction(txn));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_KEY_DELETED));
    EXPECT_EQ(saved("Retries"), 2u);
    EXPECT_NE(slurp(hive), with_gone); // only the other writer's change
    RegCloseKey(k);
    RegCloseKey(sub);
    CloseHandle(txn);
}

TEST_F(RegistryTxn, RollbackCloseAndTimeOutDiscardTheChanges)
{
    const std::string before = slurp(hive);
    HANDLE txn = new_txn();
    HKEY k = open_in(txn);
    ASSERT_EQ(set_dword(k, "Retries", 9), 0);
    ASSERT_TRUE(RollbackTransaction(txn));
    EXPECT_EQ(WaitForSingleObject(txn, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(set_dword(k, "Retries", 9), ERROR_TRANSACTION_NOT_ACTIVE);
    EXPECT_FALSE(CommitTransaction(txn));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TRANSACTION_ALREADY_ABORTED));
    EXPECT_FALSE(RollbackTransaction(txn));
    RegCloseKey(k);
    EXPECT_TRUE(CloseHandle(txn));

    // Closing the handle of a transaction not committed rolls it back.
    txn = new_txn();
    k = open_in(txn);
    ASSERT_EQ(set_dword(k, "Retries", 9), 0);
    EXPECT_TRUE(CloseHandle(txn));
    EXPECT_EQ(set_dword(k, "Timeout", 1), ERROR_TRANSACTION_NOT_ACTIVE);
    EXPECT_FALSE(CommitTransaction(txn));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    RegCloseKey(k);

    // Past its time-out a transaction is rolled back. The time-out is short:
    // should a busy machine hold the test up past it before the change is
    // staged, again with a longer one.
    DWORD timeout = 20;
    std::chrono::steady_clock::time_point created;
    for (;;) {
        txn = new_txn(timeout);
        created = std::chrono::steady_clock::now();
        k = nullptr;
        if (RegOpenKeyTransactedA(HKEY_CURRENT_USER, kKey, 0, KEY_READ | KEY_WRITE, &k, txn, nullptr) == 0 &&
            set_dword(k, "Retries", 9) == 0)
            break;
        if (k)
            RegCloseKey(k);
        CloseHandle(txn);
        ASSERT_LT(timeout, 60000u) << "the change was never staged within the transaction's time-out";
        timeout *= 4;
    }
    std::this_thread::sleep_until(created + std::chrono::milliseconds(timeout + 10));
    EXPECT_EQ(set_dword(k, "Timeout", 1), ERROR_TRANSACTION_NOT_ACTIVE);
    EXPECT_FALSE(CommitTransaction(txn));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TRANSACTION_ALREADY_ABORTED));
    RegCloseKey(k);
    CloseHandle(txn);

    EXPECT_EQ(slurp(hive), before);
    EXPECT_EQ(saved("Retries"), 2u);

    // Nothing staged: the commit succeeds without writing.
    txn = new_txn();
    struct stat st_before {
    }, st_after{};
    ASSERT_EQ(stat(hive.c_str(), &st_before), 0);
    EXPECT_TRUE(CommitTransaction(txn));
    ASSERT_EQ(stat(hive.c_str(), &st_after), 0);
    EXPECT_EQ(st_before.st_ino, st_after.st_ino);
    CloseHandle(txn);
}

TEST_F(RegistryTxn, BadArguments)
{
    EXPECT_EQ(CreateTransaction(nullptr, nullptr, 2, 0, 0, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyTransactedA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k, event, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyTransactedA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(CommitTransaction(event));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(event);

    HANDLE txn = new_txn();
    int extended = 0;
    EXPECT_EQ(RegOpenKeyTransactedA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k, txn, &extended), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyTransactedA(HKEY_CURRENT_USER, "Software\\Missing", 0, KEY_READ, &k, txn, nullptr),
              ERROR_FILE_NOT_FOUND);
    // Access rights and the read-only roots hold inside a transaction too.
    ASSERT_EQ(RegOpenKeyTransactedA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &k, txn, nullptr), 0);
    EXPECT_EQ(set_dword(k, "Retries", 1), ERROR_ACCESS_DENIED);
    RegCloseKey(k);
    EXPECT_EQ(RegCreateKeyTransactedA(HKEY_LOCAL_MACHINE, "SOFTWARE\\X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                                      nullptr, txn, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CommitTransaction(txn));
    CloseHandle(txn);
}

} // namespace
