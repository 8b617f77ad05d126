// The deployer as a client reaches it through its registration: a creatable
// class under both ProgIDs, its members and DISPIDs, the address check with
// each member's error prefix, and failures of the operation itself reported
// through the job it returns.
#include "deployer_client.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

namespace {

using vx::test::as;
using vx::test::error_text;
using vx::test::status_of;
using vx::test::wait_done;

class Deployer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        home = vx::test::flashkit_home("deployer");
        ASSERT_NO_FATAL_FAILURE(vx::test::register_flashkit(home));
        CoInitialize(nullptr);
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(home); }

    void SetUp() override
    {
        deployer = vx::test::create_deployer();
        ASSERT_TRUE(deployer);
    }

    static inline std::filesystem::path home;
    CComPtr<Ideployer> deployer;
};

TEST_F(Deployer, IsACreatableClassUnderBothProgIds)
{
    for (const char* progid : {"Flashkit.deployer", "Flashkit.deployer.1"}) {
        CLSID found{};
        EXPECT_EQ(CLSIDFromProgIDA(progid, &found), S_OK) << progid;
        EXPECT_EQ(found, CLSID_deployer) << progid;
    }
    const std::string key = "CLSID\\" + com::guid_to_string(CLSID_deployer);
    std::string value;
    ASSERT_TRUE(com::read_classes_value(key + "\\InprocServer32", "ThreadingModel", value));
    EXPECT_EQ(value, "Apartment");
    ASSERT_TRUE(com::read_classes_value(key + "\\TypeLib", nullptr, value));
    EXPECT_EQ(value, com::guid_to_string(LIBID_FLASHKITLib));
    ASSERT_TRUE(com::read_classes_value(key, nullptr, value));
    EXPECT_EQ(value, "deployer Class");

    EXPECT_EQ(as<ISupportErrorInfo>(deployer)->InterfaceSupportsErrorInfo(IID_Ideployer), S_OK);
    CComPtr<IDispatch> dispatch = as<IDispatch>(deployer);
    ASSERT_TRUE(dispatch);
    const std::pair<std::u16string, DISPID> members[] = {{u"deploy", 1}, {u"download", 2}, {u"save_dsp_args", 3}};
    for (auto [name, expected] : members) {
        LPOLESTR names[] = {name.data()};
        DISPID id = -1;
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        EXPECT_EQ(id, expected);
    }
}

TEST_F(Deployer, EveryMemberRefusesAnAddressThatIsNotStrictlyDotted)
{
    for (const char* text : {"1.2.3", "256.1.1.1", "../1.2.3.4", "", " 1.2.3.4"}) {
        CComPtr<IDispatch> job;
        EXPECT_EQ(deployer->deploy(_bstr_t(text), _bstr_t("dsp.uld"), &job), DISP_E_EXCEPTION) << text;
        EXPECT_EQ(error_text(), "deployer::deploy : invalid IP address");
        EXPECT_EQ(deployer->download(_bstr_t(text), _bstr_t("dsp.uld"), &job), DISP_E_EXCEPTION) << text;
        EXPECT_EQ(error_text(), "deployer::download : invalid IP address");
        EXPECT_EQ(deployer->save_dsp_args(_bstr_t(text), &job), DISP_E_EXCEPTION) << text;
        EXPECT_EQ(error_text(), "deployer::save_dsp_args : invalid IP address");
        EXPECT_FALSE(job);
    }
    EXPECT_EQ(deployer->deploy(_bstr_t("127.0.0.1"), _bstr_t("x"), nullptr), E_POINTER);
}

// A file that is no valid DSP image never reaches the device: the job fails
// with the operation's text (a missing file with the file's own error).
TEST_F(Deployer, InvalidFilesFailTheirJobs)
{
    vx::test::scratch_folder folder("deployer");
    const std::string broken = folder.file("broken.uld", vx::test::bytes_t(64, 0));
    struct row {
        HRESULT (Ideployer::*member)(BSTR, BSTR, IDispatch**);
        std::string file;
        std::string text;
    };
    for (const row& r : {row{&Ideployer::deploy, broken, "Invalid DSP code to deploy"},
                         row{&Ideployer::download, broken, "Invalid DSP code to download"},
                         row{&Ideployer::deploy, folder.path / "missing.uld", "error opening file"}}) {
        CComPtr<IDispatch> dispatch;
        ASSERT_EQ(((*deployer).*r.member)(_bstr_t("127.0.0.1"), _bstr_t(r.file.c_str()), &dispatch), S_OK);
        CComPtr<Ijob> job = as<Ijob>(dispatch);
        ASSERT_TRUE(job);
        EXPECT_EQ(wait_done(job), 2);
        EXPECT_EQ(status_of(job).rfind(r.text, 0), 0u) << status_of(job);
        CComPtr<IDispatch> result;
        EXPECT_EQ(job->result(&result), S_OK);
        EXPECT_FALSE(result);
    }
}

} // namespace
