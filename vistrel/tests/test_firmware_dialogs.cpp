// The Select Firmware Version and progress dialogs offscreen. The versions
// and their collections come from the real firmware server over a folder of
// generated images; the device's unit and the jobs are scripted.
#include "support/firmware_folder.h"
#include "support/test_app.h"

#include "FirmwareResource.h"
#include "ProgressDlg.h"
#include "SelectVersionDlg.h"
#include "ServerCalls.h"
#include "resource.h"

#include <atl/atlcom.h>
#include <mfc/test_hooks.h>

#include <gtest/gtest.h>

#include <filesystem>

using namespace vistrel_test;
using mfc::test::ScopedHooks;
namespace images = devsim::images;

namespace {

// A device's unit: its family type, custom text and what check_update says.
class FakeUnit : public CComObjectRootEx<CComSingleThreadModel>, public IDispatchImpl<Iunit, &IID_Iunit> {
public:
    BEGIN_COM_MAP(FakeUnit)
    COM_INTERFACE_ENTRY(Iunit)
    COM_INTERFACE_ENTRY2(IDispatch, Iunit)
    END_COM_MAP()

    HRESULT get_type(long* pVal) override { return *pVal = type, S_OK; }
    HRESULT get_custom(BSTR* pVal) override { return *pVal = com::bstr_from_utf8(custom), S_OK; }
    HRESULT check_update(IDispatch* version, IDispatch** check) override;
    HRESULT get_ver(IDispatch**) override { return E_NOTIMPL; }
    HRESULT get_mac(BSTR*) override { return E_NOTIMPL; }
    HRESULT put_mac(BSTR) override { return E_NOTIMPL; }
    HRESULT download(IDispatch*, IDispatch**) override { return E_NOTIMPL; }
    HRESULT download2(IDispatch*, long, long, IDispatch**) override { return E_NOTIMPL; }
    HRESULT get_VCXO_center(long*) override { return E_NOTIMPL; }
    HRESULT put_VCXO_center(long) override { return E_NOTIMPL; }
    HRESULT get_allowed_channels(long*) override { return E_NOTIMPL; }
    HRESULT put_allowed_channels(long) override { return E_NOTIMPL; }
    HRESULT get_ssi_format(long*) override { return E_NOTIMPL; }
    HRESULT put_ssi_format(long) override { return E_NOTIMPL; }
    HRESULT download3(IDispatch*, long, long, long, IDispatch**) override { return E_NOTIMPL; }
    HRESULT get_custom_ver(IDispatch**) override { return E_NOTIMPL; }

    long type = 2;
    std::string custom;
    long bootUpdate = 0, bootDiffers = 0, configUpdate = 0;
};

class FakeCheck : public CComObjectRootEx<CComSingleThreadModel>,
                  public IDispatchImpl<Iupdate_check, &IID_Iupdate_check> {
public:
    BEGIN_COM_MAP(FakeCheck)
    COM_INTERFACE_ENTRY(Iupdate_check)
    COM_INTERFACE_ENTRY2(IDispatch, Iupdate_check)
    END_COM_MAP()

    HRESULT get_boot_update(long* pVal) override { return *pVal = boot, S_OK; }
    HRESULT get_code_update(long* pVal) override { return *pVal = 1, S_OK; }
    HRESULT get_fpga_update(long* pVal) override { return *pVal = 0, S_OK; }
    HRESULT get_config_update(long* pVal) override { return *pVal = config, S_OK; }
    HRESULT get_boot_differs(long* pVal) override { return *pVal = differs, S_OK; }
    HRESULT get_code2_update(long* pVal) override { return *pVal = 0, S_OK; }

    long boot = 0, differs = 0, config = 0;
};

// A firmware job whose state the test sets; counts what the dialog reads.
class FakeJob : public CComObjectRootEx<CComSingleThreadModel>, public IDispatchImpl<Ijob, &IID_Ijob> {
public:
    BEGIN_COM_MAP(FakeJob)
    COM_INTERFACE_ENTRY(Ijob)
    COM_INTERFACE_ENTRY2(IDispatch, Ijob)
    END_COM_MAP()

    HRESULT get_percent(double* pVal) override { return *pVal = percent, S_OK; }
    HRESULT get_status(BSTR* pVal) override { return ++statusReads, *pVal = com::bstr_from_utf8(status), S_OK; }
    HRESULT get_done(long* pVal) override { return ++doneReads, *pVal = done, S_OK; }
    HRESULT cancel() override { return ++cancels, S_OK; }
    HRESULT result(IDispatch** unit) override { return *unit = nullptr, S_OK; }

    double percent = 0;
    std::string status;
    long done = 0;
    int statusReads = 0, doneReads = 0, cancels = 0;
};

// A new object without references; the first holder takes one.
template <class T> CComObject<T>* Make() { return new CComObject<T>(); }

HRESULT FakeUnit::check_update(IDispatch*, IDispatch** check)
{
    CComObject<FakeCheck>* result = Make<FakeCheck>();
    result->boot = bootUpdate;
    result->differs = bootDiffers;
    result->config = configUpdate;
    *check = static_cast<Iupdate_check*>(result);
    result->AddRef();
    return S_OK;
}

std::string Name(Iversion* version)
{
    BSTR name = nullptr;
    version->get_name(&name);
    return TakeText(name);
}

std::vector<std::string> Entries(CWnd& d) { return ListBoxEntries(d, IDC_VERSION_LIST); }

std::string Selected(CWnd& d)
{
    auto* list = static_cast<CListBox*>(d.GetDlgItem(IDC_VERSION_LIST));
    CString text;
    if (list->GetCurSel() >= 0)
        list->GetText(list->GetCurSel(), text);
    return text.str();
}

void Choose(CWnd& d, const std::string& name)
{
    auto* list = d.GetDlgItem(IDC_VERSION_LIST);
    const int row = static_cast<CListBox*>(list)->FindStringExact(-1, name.c_str());
    ASSERT_GE(row, 0) << name;
    mfc::test::ChooseListBoxItems(list, {row});
}

bool Visible(CWnd& d, int id) { return d.GetDlgItem(id)->IsWindowVisible() != FALSE; }

CRect Rect(CWnd& w)
{
    CRect r;
    w.GetWindowRect(&r);
    return r;
}

// The firmware folder and the updater over it, shared by the tests.
class FirmwareDialogs : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = "/tmp/vistrel_firmware_dialogs_" + std::to_string(getpid());
        ASSERT_NO_FATAL_FAILURE(RegisterServerLibrary(FLASHKIT_LIB));
        using images::family;
        for (auto [f, v] : {std::pair{family::alder, images::version_t{1, 2, 3}},
                            {family::alder, {1, 3, 0}},
                            {family::alder, {1, 20, 0}},
                            {family::birch, {2, 1, 0}},
                            {family::birch, {2, 2, 0}},
                            {family::cedar, {1, 0, 0}},
                            {family::cedar, {1, 1, 0}},
                            {family::dogwood, {1, 0, 0}}})
            WriteFirmware(folder, f, v);
        WriteFirmware(folder, family::alder, {1, 0, 0}, "alderx");
        WriteFirmware(folder, family::birch, {1, 0, 0}, "birchx");
        ASSERT_TRUE(SUCCEEDED(CreateServerObject(CLSID_updater, updater)));
        ASSERT_EQ(updater->init(_bstr_t(folder.c_str())), S_OK);
        // Changed behind the server's back after its scan: one image cut
        // short by a byte, one gone.
        std::filesystem::resize_file(folder + "/cedar_1_1_0.bin", 0x20000 - 1);
        std::filesystem::remove(folder + "/birch_2_2_0.bin");
    }
    static void TearDownTestSuite()
    {
        updater.Release();
        std::filesystem::remove_all(folder);
    }

    // What the updater answers, as interface I.
    template <class I, class Method, class... Args> static CComPtr<I> Ask(Method method, Args... args)
    {
        CComPtr<IDispatch> answer;
        EXPECT_EQ((updater->*method)(args..., &answer), S_OK);
        return QueryAs<I>(answer);
    }
    static CComPtr<Iversion> Version(const std::string& name)
    {
        auto versions = Ask<Icom_vector>(&Iupdater::find_all);
        long count = 0;
        versions->get_length(&count);
        for (long i = 0; i < count; ++i) {
            CComPtr<IDispatch> item;
            versions->at(i, &item);
            auto version = QueryAs<Iversion>(item);
            if (Name(version) == name)
                return version;
        }
        ADD_FAILURE() << "no version " << name;
        return nullptr;
    }
    static CComPtr<Icom_vector> Compatible(Iversion* version)
    {
        return Ask<Icom_vector>(&Iupdater::find_compatible, static_cast<IDispatch*>(version));
    }
    static CComPtr<Icom_vector> SameType(long type) { return Ask<Icom_vector>(&Iupdater::find_sametype, type, -1); }

    // The dialog's inputs: the device runs `current`; the custom
    // configuration belongs to `customOf` (none: no custom collection).
    struct Inputs {
        CComPtr<Iversion> current, favoured;
        CComPtr<Icom_vector> compatible, custom, same;
    };
    Inputs For(const std::string& current, const std::string& customOf = std::string())
    {
        Inputs in;
        in.current = Version(current);
        in.favoured = Ask<Iversion>(&Iupdater::find_prefered, static_cast<IDispatch*>(in.current));
        in.compatible = Compatible(in.current);
        in.custom = customOf.empty() ? SameType(99) : Compatible(Version(customOf));
        in.same = SameType(unit->type);
        return in;
    }

    // Runs the dialog with the script; its result.
    INT_PTR Run(const Inputs& in, const std::function<void(CSelectVersionDlg&)>& script)
    {
        CSelectVersionDlg dialog(in.current, in.favoured, in.compatible, in.custom, in.same, unit);
        mfc::test::ScriptModal<CSelectVersionDlg>(script);
        const INT_PTR result = dialog.DoModal();
        if (result == IDOK) {
            chosen = dialog.Chosen() ? Name(dialog.Chosen()) : "(none)";
            applyToAll = dialog.ApplyToAll();
            ranges = {dialog.BootRange(), dialog.CodeRange(), dialog.ConfigRange()};
        }
        return result;
    }

    static inline std::string folder;
    static inline CComPtr<Iupdater> updater;
    ScopedHooks hooks;
    CComObject<FakeUnit>* unit = Make<FakeUnit>();
    CComPtr<Iunit> unitHold{unit};
    std::string chosen;
    bool applyToAll = false;
    std::vector<long> ranges;
};

const char* const advanced_ini = "[Configuration]\nAdvanced Feature=1\n";

TEST_F(FirmwareDialogs, CompatibleViewOffersThePresentVersionsWithTheFavouredOneSelected)
{
    ScopedIni ini;
    const Inputs in = For("alder version 1.2.3");
    ASSERT_EQ(Run(in,
                  [&](CSelectVersionDlg& d) {
                      EXPECT_EQ(ItemText(d, IDC_CURRENT_VERSION), "alder version 1.2.3");
                      EXPECT_EQ(Entries(d),
                                (std::vector<std::string>{"alder version 1.2.3", "alder version 1.20.0",
                                                          "alder version 1.3.0"}));
                      EXPECT_EQ(Selected(d), "alder version 1.20.0");
                      mfc::test::PressKey(&d, VK_RETURN); // the default button, "&Update"
                  }),
              IDOK);
    EXPECT_EQ(chosen, "alder version 1.20.0");
    EXPECT_FALSE(applyToAll);
    EXPECT_EQ(ranges, (std::vector<long>{0, 0, 1})) << "plain: boot and code 0, configuration by compatibility";

    ASSERT_EQ(Run(in,
                  [&](CSelectVersionDlg& d) {
                      Choose(d, "alder version 1.3.0");
                      mfc::test::Click(d, IDC_APPLY_TO_ALL);
                      mfc::test::Click(d, IDC_UPDATE_VERSION);
                  }),
              IDOK);
    EXPECT_EQ(chosen, "alder version 1.3.0");
    EXPECT_TRUE(applyToAll);
    EXPECT_TRUE(TakeBoxes().empty());
}

TEST_F(FirmwareDialogs, CustomConfigurationListsBothCollectionsWhenAdvancedAndNothingWhenPlain)
{
    const Inputs in = For("alderx version 1.0.0", "alder version 1.2.3");
    unit->custom = "alder";
    {
        ScopedIni ini(advanced_ini);
        ASSERT_EQ(Run(in,
                      [&](CSelectVersionDlg& d) {
                          EXPECT_EQ(ItemText(d, IDC_CURRENT_VERSION), "alderx version 1.0.0 [custom: alder]");
                          EXPECT_EQ(Entries(d).size(), 4u);
                          EXPECT_EQ(Selected(d), "");
                          Choose(d, "alder version 1.3.0"); // numbered on behind the compatible collection
                          mfc::test::Click(d, IDC_UPDATE_VERSION);
                      }),
                  IDOK);
        EXPECT_EQ(chosen, "alder version 1.3.0");
        EXPECT_EQ(ranges, (std::vector<long>{0, 0, 0})) << "advanced alder: configuration never";
    }
    {
        ScopedIni ini;
        EXPECT_EQ(Run(in,
                      [&](CSelectVersionDlg& d) {
                          EXPECT_EQ(ItemText(d, IDC_CURRENT_VERSION), "Unknown");
                          EXPECT_TRUE(Entries(d).empty());
                          mfc::test::Click(d, IDC_UPDATE_VERSION);
                          EXPECT_EQ(
                              TakeBoxes(),
                              (std::vector<std::string>{"Warning: No Firmware is Selected\nPlease Select Firmware"}));
                          mfc::test::Click(d, IDCANCEL);
                      }),
                  IDCANCEL);
    }
}

TEST_F(FirmwareDialogs, AllViewListsTheSameTypeAndOpensByItselfWhenNothingIsCompatible)
{
    ScopedIni ini(advanced_ini);
    unit->type = 4;
    Inputs in = For("birch version 2.1.0");
    ASSERT_EQ(Run(in,
                  [&](CSelectVersionDlg& d) {
                      EXPECT_EQ(Entries(d), (std::vector<std::string>{"birch version 2.1.0", "birch version 2.2.0"}));
                      mfc::test::Click(d, IDC_SHOW_ALL_VERSIONS);
                      EXPECT_EQ(Entries(d),
                                (std::vector<std::string>{"birch version 2.1.0", "birch version 2.2.0",
                                                          "birchx version 1.0.0"}));
                      Choose(d, "birchx version 1.0.0");
                      mfc::test::Click(d, IDC_UPDATE_VERSION);
                  }),
              IDOK);
    EXPECT_EQ(chosen, "birchx version 1.0.0");
    EXPECT_EQ(ranges, (std::vector<long>{0, 0, 0})) << "automatic: not compatible, so configuration never";

    in.compatible = SameType(99);
    EXPECT_EQ(Run(in,
                  [&](CSelectVersionDlg& d) {
                      EXPECT_EQ(d.IsDlgButtonChecked(IDC_SHOW_ALL_VERSIONS), UINT(BST_CHECKED));
                      EXPECT_EQ(Entries(d).size(), 3u);
                      mfc::test::Click(d, IDC_SHOW_ALL_VERSIONS);
                      EXPECT_TRUE(Entries(d).empty());
                      mfc::test::Click(d, IDCANCEL);
                  }),
              IDCANCEL);
}

TEST_F(FirmwareDialogs, AdvancedLayoutShowsTheWriteOptionsAndPlainLayoutIsShorter)
{
    struct Layout {
        long height, updateTop, showAllTop;
    };
    auto measure = [&](Layout& layout, const std::function<void(CSelectVersionDlg&)>& check) {
        EXPECT_EQ(Run(For(unit->type == 0 ? "cedar version 1.0.0" : "birch version 2.1.0"),
                      [&](CSelectVersionDlg& d) {
                          layout = {Rect(d).Height(), Rect(*d.GetDlgItem(IDC_UPDATE_VERSION)).top - Rect(d).top,
                                    Rect(*d.GetDlgItem(IDC_SHOW_ALL_VERSIONS)).top - Rect(d).top};
                          EXPECT_EQ(Rect(*d.GetDlgItem(IDCANCEL)).top, Rect(*d.GetDlgItem(IDC_UPDATE_VERSION)).top);
                          check(d);
                          mfc::test::Click(d, IDCANCEL);
                      }),
                  IDCANCEL);
    };
    Layout advanced{}, cedar{}, plain{};
    {
        ScopedIni ini(advanced_ini);
        unit->type = 5;
        measure(advanced, [](CSelectVersionDlg& d) {
            for (int id : {IDC_SHOW_ALL_VERSIONS, IDC_BOOT_GROUP, IDC_CODE_GROUP, IDC_CONFIG_GROUP, IDC_BOOT_ALWAYS,
                           IDC_CODE_ALWAYS, IDC_CONFIG_AUTOMATIC})
                EXPECT_TRUE(Visible(d, id)) << id;
            EXPECT_TRUE(d.GetDlgItem(IDC_CONFIG_NEVER)->IsWindowEnabled());
            EXPECT_EQ(d.GetCheckedRadioButton(IDC_CONFIG_NEVER, IDC_CONFIG_AUTOMATIC), IDC_CONFIG_AUTOMATIC);
            EXPECT_EQ(d.GetCheckedRadioButton(IDC_BOOT_IF_NECESSARY, IDC_BOOT_ALWAYS), IDC_BOOT_IF_NECESSARY);
            EXPECT_EQ(d.GetCheckedRadioButton(IDC_CODE_IF_DIFFERENT, IDC_CODE_ALWAYS), IDC_CODE_IF_DIFFERENT);
        });
        unit->type = 0;
        measure(cedar, [](CSelectVersionDlg& d) {
            EXPECT_FALSE(d.GetDlgItem(IDC_CONFIG_AUTOMATIC)->IsWindowEnabled());
            EXPECT_EQ(d.GetCheckedRadioButton(IDC_CONFIG_NEVER, IDC_CONFIG_AUTOMATIC), IDC_CONFIG_NEVER);
        });
    }
    ScopedIni ini;
    unit->type = 4;
    measure(plain, [](CSelectVersionDlg& d) {
        for (int id : {IDC_SHOW_ALL_VERSIONS, IDC_BOOT_GROUP, IDC_CODE_GROUP, IDC_CONFIG_GROUP, IDC_BOOT_IF_NECESSARY,
                       IDC_CONFIG_AUTOMATIC})
            EXPECT_FALSE(Visible(d, id)) << id;
        EXPECT_TRUE(Visible(d, IDC_APPLY_TO_ALL));
    });
    const long distance = advanced.updateTop - advanced.showAllTop;
    EXPECT_GT(distance, 0);
    EXPECT_EQ(plain.height, advanced.height - distance);
    EXPECT_EQ(plain.updateTop, advanced.showAllTop);
    EXPECT_EQ(cedar.height, advanced.height);
}

TEST_F(FirmwareDialogs, OnlyImagesOfTheDevicesKindAndSizeAreWritten)
{
    ScopedIni ini;
    const char* const unsuitable = "Select Version: The selected version is not suitable for this device.";
    struct Case {
        long unitType;
        const char* version;
        bool suitable;
    };
    const Case cases[] = {
        {0, "cedar version 1.0.0", true},    {0, "cedar version 1.1.0", false}, // 131,071 bytes
        {0, "dogwood version 1.0.0", false}, {1, "dogwood version 1.0.0", true},
        {2, "alder version 1.3.0", true},    {3, "alder version 1.3.0", true},
        {3, "birch version 2.1.0", false},   {5, "birch version 2.1.0", true},
        {4, "alder version 1.3.0", false},   {-1, "alder version 1.3.0", false},
        {2, "birch version 2.2.0", true}, // its file is gone: left to the write
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.unitType) + " " + c.version);
        unit->type = c.unitType;
        Inputs in = For(c.version);
        in.favoured = in.current;
        const INT_PTR result = Run(in, [&](CSelectVersionDlg& d) {
            mfc::test::Click(d, IDC_UPDATE_VERSION);
            if (d.IsWindowVisible())
                mfc::test::Click(d, IDCANCEL);
        });
        const std::vector<std::string> boxes = TakeBoxes();
        EXPECT_EQ(std::count(boxes.begin(), boxes.end(), unsuitable), c.suitable ? 0 : 1);
        // A suitable cedar image still asks about the cedar's risk (Cancel by default).
        EXPECT_EQ(result, c.suitable && c.unitType != 0 ? IDOK : IDCANCEL);
    }
}

TEST_F(FirmwareDialogs, WarnsBeforeReprogrammingTheBootOrTheConfiguration)
{
    ScopedIni ini(advanced_ini);
    const std::string boot = "Updating to this version requires reprogramming the boot code. The \r\n"
                             "Veltrix device may become inoperable in the event of failure.";
    const std::string both = "Updating to this version requires reprogramming the boot code and \r\n"
                             "configuration records. The Veltrix device may become inoperable in \r\n"
                             "the event of failure.";
    const std::string config = "Updating to this version requires reprogramming the configuration \r\n"
                               "records. The Veltrix device may become inoperable in the event of \r\n"
                               "failure.";
    const std::string cedar = "Due to system constraints, failure during this CEDAR firmware upgrade \r\n"
                              "may render the device inoperable.";
    struct Case {
        long unitType;
        long bootUpdate, bootDiffers, configUpdate;
        int bootButton, configButton; // 0: as the dialog opens
        std::string warning;          // empty: none
    };
    const Case cases[] = {
        {2, 1, 0, 0, 0, 0, boot},
        {2, 0, 1, 0, 0, 0, ""},
        {2, 0, 1, 0, IDC_BOOT_IF_DIFFERENT, 0, boot},
        {2, 0, 0, 0, IDC_BOOT_ALWAYS, 0, boot},
        {2, 0, 0, 1, 0, 0, ""},     // configuration never written on alder
        {4, 0, 0, 1, 0, 0, config}, // automatic: compatible, so if different
        {4, 0, 0, 1, 0, IDC_CONFIG_NEVER, ""},
        {4, 1, 0, 0, 0, IDC_CONFIG_ALWAYS, both},
        {0, 0, 0, 0, 0, 0, cedar},
        {0, 0, 0, 1, 0, 0, cedar},
        {0, 1, 0, 0, 0, 0, boot + "\r\n\r\n" + cedar},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.warning);
        unit->type = c.unitType;
        unit->bootUpdate = c.bootUpdate;
        unit->bootDiffers = c.bootDiffers;
        unit->configUpdate = c.configUpdate;
        Inputs in = For(c.unitType == 0       ? "cedar version 1.0.0"
                            : c.unitType == 4 ? "birch version 2.1.0"
                                              : "alder version 1.3.0");
        in.favoured = in.current;
        // Cancel keeps the dialog open; OK then writes.
        mfc::test::MessageBoxLog().clear();
        EXPECT_EQ(Run(in,
                      [&](CSelectVersionDlg& d) {
                          if (c.bootButton)
                              mfc::test::Click(d, c.bootButton);
                          if (c.configButton)
                              mfc::test::Click(d, c.configButton);
                          mfc::test::Click(d, IDC_UPDATE_VERSION);
                          EXPECT_EQ(d.IsWindowVisible() != FALSE, !c.warning.empty());
                          if (!d.IsWindowVisible())
                              return;
                          if (!mfc::test::MessageBoxLog().empty()) {
                              const auto& box = mfc::test::MessageBoxLog().back();
                              EXPECT_EQ(box.text, c.warning);
                              EXPECT_EQ(box.caption, "Select Version");
                              EXPECT_EQ(box.type, UINT(MB_OKCANCEL | MB_DEFBUTTON2));
                          }
                          mfc::test::PushMessageBoxAnswer(IDOK);
                          mfc::test::Click(d, IDC_UPDATE_VERSION);
                      }),
                  IDOK);
        EXPECT_EQ(mfc::test::MessageBoxLog().size(), c.warning.empty() ? 0u : 2u);
    }
}

TEST(WarningText, LinesAreWrappedAfterTheLastBlankWithinSeventyCharacters)
{
    const std::string x69(69, 'x'), x71(71, 'x');
    EXPECT_EQ(WrapWarning(x69), x69);
    EXPECT_EQ(WrapWarning(x71), std::string(70, 'x') + "\r\n" + "x");
    EXPECT_EQ(WrapWarning(x69 + " " + x69), x69 + " \r\n" + x69);
    EXPECT_EQ(WrapWarning(x69 + "\r\n" + x71), x69 + "\r\n" + std::string(70, 'x') + "\r\nx");
    EXPECT_EQ(WrapWarning(std::string(140, 'x') + "y"), std::string(70, 'x') + "\r\n" + std::string(70, 'x') + "\r\ny");
}

class ProgressDialog : public ::testing::Test {
protected:
    ScopedHooks hooks;
    CComObject<FakeJob>* job = Make<FakeJob>();
    CComPtr<Ijob> jobHold{job};
};

TEST_F(ProgressDialog, AFinishedJobShowsItsLastStateFourTimesAndClosesOnTheFifthTick)
{
    job->done = 1;
    job->status = "download done";
    job->percent = 99.9;
    CProgressDlg dialog("192.168.1.7 - Update Firmware", job);
    mfc::test::ScriptModal<CProgressDlg>([&](CProgressDlg& d) {
        EXPECT_TRUE(PumpUntil([&] { return ItemText(d, IDC_PROGRESS_STATUS) == "download done"; }));
        EXPECT_EQ(static_cast<CProgressCtrl*>(d.GetDlgItem(IDC_PROGRESS_BAR))->GetPos(), 99);
        EXPECT_TRUE(d.GetDlgItem(IDC_ANIMATION) != nullptr);
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(job->doneReads, 5);
    EXPECT_EQ(job->statusReads, 4);
    EXPECT_EQ(mfc::test::ModalLog().back().caption, "192.168.1.7 - Update Firmware");
}

TEST_F(ProgressDialog, CancelAsksTheJobAndShowsCancelingUntilItEnds)
{
    job->status = "Uploading the runtime code";
    job->percent = 40;
    int statusReads = 0;
    CProgressDlg dialog("192.168.1.7 - Upload Firmware", job);
    mfc::test::ScriptModal<CProgressDlg>([&](CProgressDlg& d) {
        EXPECT_TRUE(PumpUntil([&] { return ItemText(d, IDC_PROGRESS_STATUS) == "Uploading the runtime code"; }));
        mfc::test::CloseWindow(&d);
        EXPECT_EQ(job->cancels, 1);
        statusReads = job->statusReads;
        EXPECT_FALSE(d.GetDlgItem(IDCANCEL)->IsWindowEnabled());
        job->status = "Upload the xilinx code complete";
        job->percent = 60;
        const int reads = job->doneReads;
        EXPECT_TRUE(PumpUntil([&] { return job->doneReads >= reads + 3; }));
        EXPECT_EQ(ItemText(d, IDC_PROGRESS_STATUS), "Canceling . . .");
        EXPECT_EQ(static_cast<CProgressCtrl*>(d.GetDlgItem(IDC_PROGRESS_BAR))->GetPos(), 40);
        mfc::test::PressKey(&d, VK_ESCAPE);
        EXPECT_TRUE(d.IsWindowVisible());
        job->done = 3;
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(job->statusReads, statusReads) << "no status read after the cancel";
}

} // namespace
