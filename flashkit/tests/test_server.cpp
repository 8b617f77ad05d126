// The automation server as the console reaches it, without devices:
// registration, the type-library tables, the shared TFTP settings, the
// searches over a firmware folder's cache, the collection's late-bound items,
// the deployer's members, and the argument checks with their error texts.
#include "com_client.h"
#include "snmpd_fixture.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using vx::test::as;
using vx::test::error_text;
using vx::test::take;

class Server : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        home = vx::test::flashkit_home("server");
        ASSERT_NO_FATAL_FAILURE(vx::test::register_flashkit(home));
        CoInitialize(nullptr);
        folder = home / "firmware";
        std::filesystem::create_directories(folder);
        // Cached records: words code, boot, FPGA, second FPGA, configuration,
        // type + 1, second code. Only alder_1_21_0.bin is present.
        std::ofstream(folder / "database.ini") << "[Device Types]\nalder=Alder unit\n"
                                                  "[Checksums]\n"
                                                  "alder_1_2_3.bin=100 200 300 400 0 3 0 \n"
                                                  "alder_1_21_0.bin=101 201 301 401 0 3 0 \n"
                                                  "birch_2_0_0.bin=500 600 0 0 4000000000 5 700 \n"
                                                  "cedar_1_0_0.bin=900 901 0 0 0 1 0 \n";
        std::ofstream(folder / "alder_1_21_0.bin") << "";
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(home); }

    void SetUp() override
    {
        updater = vx::test::create_updater();
        ASSERT_TRUE(updater);
        ASSERT_EQ(updater->init(_bstr_t(folder.c_str())), S_OK);
        ASSERT_EQ(updater->find_all(&all_dispatch), S_OK);
        all = as<Icom_vector>(all_dispatch);
        ASSERT_TRUE(all);
    }

    // Item i of the folder's list, in cache order.
    CComPtr<Iversion> version(long i)
    {
        CComPtr<IDispatch> item;
        EXPECT_EQ(all->at(i, &item), S_OK);
        return as<Iversion>(item);
    }
    static std::string name_of(IDispatch* object)
    {
        BSTR name = nullptr;
        EXPECT_EQ(as<Iversion>(object)->get_name(&name), S_OK);
        return take(name);
    }
    static long length_of(IDispatch* object)
    {
        long length = -1;
        EXPECT_EQ(as<Icom_vector>(object)->get_length(&length), S_OK);
        return length;
    }

    static inline std::filesystem::path home, folder;
    CComPtr<Iupdater> updater;
    CComPtr<IDispatch> all_dispatch;
    CComPtr<Icom_vector> all;
};

TEST_F(Server, EveryClassIsRegisteredUnderBothProgIdsAndOnlyTheClientsClassesAreCreatable)
{
    const std::pair<const char*, CLSID> classes[] = {
        {"updater", CLSID_updater},           {"unit", CLSID_unit},
        {"version", CLSID_version},           {"com_vector", CLSID_com_vector},
        {"update_check", CLSID_update_check}, {"job", CLSID_job},
        {"deployer", CLSID_deployer}};
    for (const auto& [name, clsid] : classes) {
        for (std::string progid : {std::string("Flashkit.") + name, std::string("Flashkit.") + name + ".1"}) {
            CLSID found{};
            EXPECT_EQ(CLSIDFromProgIDA(progid.c_str(), &found), S_OK) << progid;
            EXPECT_EQ(found, clsid) << progid;
        }
        const std::string key = "CLSID\\" + com::guid_to_string(clsid);
        std::string value;
        ASSERT_TRUE(com::read_classes_value(key + "\\InprocServer32", "ThreadingModel", value)) << name;
        EXPECT_EQ(value, "Apartment");
        ASSERT_TRUE(com::read_classes_value(key + "\\TypeLib", nullptr, value));
        EXPECT_EQ(value, com::guid_to_string(LIBID_FLASHKITLib));
        ASSERT_TRUE(com::read_classes_value(key, nullptr, value));
        EXPECT_EQ(value, std::string(name) + " Class");
        if (clsid != CLSID_updater && clsid != CLSID_deployer) {
            CComPtr<IUnknown> object;
            EXPECT_EQ(
                CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object)),
                CLASS_E_CLASSNOTAVAILABLE)
                << name;
        }
    }
    std::string help;
    ASSERT_TRUE(com::read_classes_value("TypeLib\\" + com::guid_to_string(LIBID_FLASHKITLib) + "\\1.0", nullptr, help));
    EXPECT_EQ(help, "Flashkit 1.0 Type Library");
    CComPtr<ISupportErrorInfo> support = as<ISupportErrorInfo>(updater);
    ASSERT_TRUE(support);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_Iupdater), S_OK);
}

TEST_F(Server, TftpSettingsAreOneRecordForEveryUpdaterAndRefuseNegativeValues)
{
    CComPtr<Iupdater> other = vx::test::create_updater();
    struct setting {
        HRESULT (Iupdater::*put)(long);
        HRESULT (Iupdater::*get)(long*);
        const char* name;
    };
    for (const setting& s : {setting{&Iupdater::put_timeout, &Iupdater::get_timeout, "timeout"},
                             setting{&Iupdater::put_write_timeout, &Iupdater::get_write_timeout, "write_timeout"},
                             setting{&Iupdater::put_retries, &Iupdater::get_retries, "retries"},
                             setting{&Iupdater::put_holdoff, &Iupdater::get_holdoff, "holdoff"}}) {
        EXPECT_EQ(((*updater).*s.put)(1234), S_OK);
        long value = 0;
        EXPECT_EQ(((*other).*s.get)(&value), S_OK);
        EXPECT_EQ(value, 1234) << s.name;
        EXPECT_EQ(((*other).*s.put)(-1), E_INVALIDARG);
        EXPECT_EQ(error_text(), std::string("updater::") + s.name + " : invalid value -1");
        EXPECT_EQ(((*updater).*s.get)(&value), S_OK);
        EXPECT_EQ(value, 1234) << s.name;
    }

    // Late bound, as a script would set them.
    std::u16string name = u"timeout";
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    ASSERT_EQ(updater->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 5);
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I4;
    arg.lVal = 777;
    DISPID put_id = DISPID_PROPERTYPUT;
    DISPPARAMS put{&arg, &put_id, 1, 1};
    EXPECT_EQ(updater->Invoke(5, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
    long value = 0;
    other->get_timeout(&value);
    EXPECT_EQ(value, 777);
}

TEST_F(Server, UploadRefusesAnyAddressThatIsNotStrictlyDotted)
{
    for (const char* text : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4x", "../1.2.3.4", "1..2.3", "", " 1.2.3.4"}) {
        CComPtr<IDispatch> job;
        EXPECT_EQ(updater->upload(_bstr_t(text), &job), DISP_E_EXCEPTION) << text;
        EXPECT_FALSE(job);
        EXPECT_EQ(error_text(), "updater::upload : invalid IP address") << text;
    }
    IErrorInfo* info = nullptr;
    CComPtr<IDispatch> job;
    updater->upload(_bstr_t("1.2.3"), &job);
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR source = nullptr;
    info->GetSource(&source);
    EXPECT_EQ(take(source), "Flashkit.updater.1");
    info->Release();
}

// The deployer as a client makes it: its members by DISPID, each refusing an
// address that is not strictly dotted with its own prefix, and a file that
// cannot be read failing the job with the file's own error.
TEST_F(Server, DeployerMembersCheckTheirArguments)
{
    CComPtr<Ideployer> deployer = vx::test::create_deployer();
    ASSERT_TRUE(deployer);
    EXPECT_EQ(as<ISupportErrorInfo>(deployer)->InterfaceSupportsErrorInfo(IID_Ideployer), S_OK);
    const std::pair<std::u16string, DISPID> members[] = {{u"deploy", 1}, {u"download", 2}, {u"save_dsp_args", 3}};
    for (auto [name, expected] : members) {
        LPOLESTR names[] = {name.data()};
        DISPID id = -1;
        EXPECT_EQ(deployer->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        EXPECT_EQ(id, expected);
    }

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

    CComPtr<IDispatch> dispatch;
    ASSERT_EQ(deployer->deploy(_bstr_t("127.0.0.1"), _bstr_t((folder / "missing.uld").c_str()), &dispatch), S_OK);
    CComPtr<Ijob> job = as<Ijob>(dispatch);
    ASSERT_TRUE(job);
    EXPECT_EQ(vx::test::wait_done(job), 2);
    EXPECT_EQ(vx::test::status_of(job).rfind("error opening file", 0), 0u) << vx::test::status_of(job);
    CComPtr<IDispatch> result;
    EXPECT_EQ(job->result(&result), S_OK);
    EXPECT_FALSE(result);
}

TEST_F(Server, SearchesOverTheCachedVersions)
{
    ASSERT_EQ(length_of(all_dispatch), 4);
    CComPtr<Iversion> alder_old = version(0), alder_new = version(1), birch = version(2), cedar = version(3);
    EXPECT_EQ(name_of(alder_old), "Alder unit version 1.2.3");
    EXPECT_EQ(name_of(birch), "birch version 2.0.0");
    BSTR path = nullptr;
    alder_new->get_path(&path);
    EXPECT_EQ(take(path), (folder / "alder_1_21_0.bin").string());

    struct word {
        HRESULT (Iversion::*get)(long*);
        long expected;
    };
    for (const word& w :
         {word{&Iversion::get_code_cs, 500}, word{&Iversion::get_boot_cs, 600},
          word{&Iversion::get_config_cs, static_cast<int32_t>(4000000000u)}, word{&Iversion::get_code2_cs, 700},
          word{&Iversion::get_type, 4}, word{&Iversion::get_valid, 1}, word{&Iversion::get_exists, 0}}) {
        long value = -99;
        EXPECT_EQ(((*birch).*w.get)(&value), S_OK);
        EXPECT_EQ(value, w.expected);
    }
    long flag = -1;
    alder_new->get_exists(&flag);
    EXPECT_EQ(flag, 1);
    alder_old->get_is_compatible(alder_new, &flag);
    EXPECT_EQ(flag, 1);
    alder_old->get_is_compatible(birch, &flag);
    EXPECT_EQ(flag, 0);
    alder_old->get_is_compatible(updater, &flag);
    EXPECT_EQ(flag, 0);

    // Only a present image is preferred.
    CComPtr<IDispatch> preferred;
    ASSERT_EQ(updater->find_prefered(alder_old, &preferred), S_OK);
    EXPECT_EQ(name_of(preferred), "Alder unit version 1.21.0");
    preferred.Release();
    ASSERT_EQ(updater->find_prefered(cedar, &preferred), S_OK);
    EXPECT_EQ(name_of(preferred), "Unknown");
    as<Iversion>(preferred)->get_valid(&flag);
    EXPECT_EQ(flag, 0);
    CComPtr<IDispatch> none_found;
    EXPECT_EQ(updater->find_prefered(preferred, &none_found), S_OK);
    EXPECT_EQ(name_of(none_found), "Unknown");

    struct search {
        const char* what;
        std::function<HRESULT(IDispatch**)> call;
        long length;
    };
    for (const search& s : {
             search{"compatible", [&](IDispatch** out) { return updater->find_compatible(alder_old, out); }, 2},
             search{"same type 2, hardware 3", [&](IDispatch** out) { return updater->find_sametype(2, 3, out); }, 1},
             search{"same type 3, any hardware", [&](IDispatch** out) { return updater->find_sametype(3, -1, out); },
                    2},
             search{"same type 5", [&](IDispatch** out) { return updater->find_sametype(5, 0, out); }, 1},
             search{"same hardware as 1.21.0",
                    [&](IDispatch** out) { return updater->find_sameHWtype(alder_new, out); }, 1},
         }) {
        CComPtr<IDispatch> found;
        ASSERT_EQ(s.call(&found), S_OK) << s.what;
        EXPECT_EQ(length_of(found), s.length) << s.what;
    }
    CComPtr<IDispatch> nothing;
    EXPECT_EQ(updater->find_sameHWtype(preferred, &nothing), S_OK);
    EXPECT_FALSE(nothing);

    // Arguments that are no version object of this server.
    EXPECT_EQ(updater->find_prefered(all_dispatch, &nothing), DISP_E_EXCEPTION);
    EXPECT_EQ(error_text(), "updater::find_prefered : invalid parameter passed");
    EXPECT_EQ(updater->find_compatible(nullptr, &nothing), DISP_E_EXCEPTION);
    EXPECT_EQ(error_text(), "updater::find_compatible : invalid parameter passed");
    EXPECT_EQ(updater->find_sameHWtype(updater, &nothing), DISP_E_EXCEPTION);
    EXPECT_EQ(error_text(), "updater::find_sametype : invalid parameter passed");
}

TEST_F(Server, CollectionItemsByIndexAndByNumberName)
{
    CComPtr<IDispatch> first, again, missing;
    ASSERT_EQ(all->at(1, &first), S_OK);
    ASSERT_EQ(all->at(1, &again), S_OK);
    EXPECT_EQ(first.p, again.p);
    EXPECT_EQ(all->at(4, &missing), DISP_E_EXCEPTION);
    EXPECT_EQ(error_text(), "Illegal index 4 for vector with 4 element(s).");
    EXPECT_EQ(all->at(-1, &missing), DISP_E_EXCEPTION);
    EXPECT_EQ(error_text(), "Illegal index -1 for vector with 4 element(s).");

    auto id_of = [&](const char16_t* text) {
        std::u16string name = text;
        LPOLESTR names[] = {name.data()};
        DISPID id = -7;
        HRESULT hr = all->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        return hr == S_OK ? id : -7;
    };
    EXPECT_EQ(id_of(u"1"), 257);
    EXPECT_EQ(id_of(u"12abc"), 268);
    EXPECT_EQ(id_of(u"length"), 1);
    EXPECT_EQ(id_of(u"AT"), 2);
    EXPECT_EQ(id_of(u"-1"), -7);

    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(all->Invoke(257, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    ASSERT_EQ(result.vt, VT_DISPATCH);
    EXPECT_EQ(result.pdispVal, first.p);
    VariantClear(&result);
    EXPECT_EQ(all->Invoke(257, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), DISP_E_TYPEMISMATCH);
    EXCEPINFO excep{};
    EXPECT_EQ(all->Invoke(260, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, &excep, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(take(excep.bstrSource), "com_vector");
    EXPECT_EQ(take(excep.bstrDescription), "Illegal index 4 for vector with 4 element(s).");
    ASSERT_EQ(all->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 4);
}

void failed_upload(Iversion* alder)
{
    CComPtr<Iupdater> updater = vx::test::create_updater();
    ASSERT_TRUE(updater);
    updater->put_timeout(200);
    updater->put_retries(0);
    CComPtr<IDispatch> job_dispatch;
    ASSERT_EQ(updater->upload(_bstr_t("127.0.0.77"), &job_dispatch), S_OK);
    CComPtr<Ijob> job = as<Ijob>(job_dispatch);
    ASSERT_EQ(vx::test::wait_done(job), 2);
    EXPECT_EQ(vx::test::status_of(job),
              "Timeout during firmware file transfer.\r\nPlease check network connections and try again.");

    // The percentage late bound, as a double.
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT percent;
    VariantInit(&percent);
    ASSERT_EQ(job->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &percent, nullptr, nullptr), S_OK);
    EXPECT_EQ(percent.vt, VT_R8);
    EXPECT_EQ(percent.dblVal, 10.0);

    CComPtr<IDispatch> unit_dispatch;
    ASSERT_EQ(job->result(&unit_dispatch), S_OK);
    CComPtr<Iunit> unit = as<Iunit>(unit_dispatch);
    ASSERT_TRUE(unit);
    long type = 0;
    EXPECT_EQ(unit->get_type(&type), S_OK);
    EXPECT_EQ(type, -1);
    CComPtr<IDispatch> ver;
    EXPECT_EQ(unit->get_ver(&ver), S_OK);
    EXPECT_FALSE(ver);
    EXPECT_EQ(unit->put_mac(_bstr_t("00602b000001")), S_OK);
    BSTR mac = nullptr;
    EXPECT_EQ(unit->get_mac(&mac), S_OK);
    EXPECT_EQ(mac, nullptr);

    struct call {
        long boot, runtime, config;
        IDispatch* ver;
        const char* text;
    };
    for (const call& c : {call{3, 0, 0, nullptr, "Unit::update : invalid boot range"},
                          call{-1, 0, 0, alder, "Unit::update : invalid boot range"},
                          call{0, 2, 0, alder, "Unit::update : invalid code range"},
                          call{0, 0, 3, alder, "Unit::update : invalid config range"},
                          call{0, 0, 0, updater, "Unit::update : invalid parameter passed"},
                          call{2, 1, 2, alder, "Unit::update : object error"}}) {
        CComPtr<IDispatch> download;
        EXPECT_EQ(unit->download3(c.ver, c.boot, c.runtime, c.config, &download), DISP_E_EXCEPTION);
        EXPECT_EQ(error_text(), c.text);
        EXPECT_FALSE(download);
    }
    CComPtr<IDispatch> download;
    EXPECT_EQ(unit->download(alder, &download), DISP_E_EXCEPTION);
    EXPECT_EQ(error_text(), "Unit::update : object error");
    CComPtr<IDispatch> check;
    EXPECT_EQ(unit->check_update(alder, &check), DISP_E_EXCEPTION);
    EXPECT_EQ(error_text(), "Unit::check_update : object error");
    EXPECT_EQ(unit->check_update(job_dispatch, &check), DISP_E_EXCEPTION);
    EXPECT_EQ(error_text(), "Unit::check_update : invalid parameter passed");

    // Each call makes a new unit object.
    CComPtr<IDispatch> second;
    ASSERT_EQ(job->result(&second), S_OK);
    EXPECT_NE(second.p, unit_dispatch.p);
}

// An address where no device answers, in a network namespace of the test's
// own where nothing listens: the upload ends with the time-out text at the
// first probe, and its unit has no family.
TEST_F(Server, AFailedUploadGivesAUnitWithoutFamilyThatRefusesEveryWrite)
{
    CComPtr<Iversion> alder = version(1);
    const std::string why = vx::test::in_private_netns([&] {
        CoInitialize(nullptr);
        failed_upload(alder);
        CoUninitialize();
    });
    if (!why.empty())
        GTEST_SKIP() << "no network namespace of its own: " << why;
}
} // namespace
