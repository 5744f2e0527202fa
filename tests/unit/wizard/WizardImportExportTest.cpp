// The import and export windows' pages against the import/export service and a phone that
// keeps its vault in memory: lists and file choice, the stages shown, the outcome, and the
// window closing by itself four seconds after it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ImportExportTestSupport.h"
#include "WizardTestSupport.h"
#include "ui/wizard/WizardImportExportPages.h"

namespace lumvane::wizardtest {
namespace {

using importtest::FakePhone;
using importtest::fixture;

class ImportExportPagesTest : public ::testing::Test {
  protected:
    void SetUp() override { bind(true); }

    void bind(bool paired) {
        io_ = importtest::makeService(phone, paired);
        auto io = io_;
        auto& s = h->context->services;
        s.importFile = [io](int32_t source, const std::filesystem::path& file,
                            WizardServices::Callback approved, WizardServices::Started started,
                            WizardServices::Callback completion) {
            io->importWithSourceType(source, file, approved, started, completion);
        };
        s.cancelImport = [io] { io->cancelImport(); };
        s.exportFile = [io](int32_t destination, const std::filesystem::path& file,
                            WizardServices::Callback approved, WizardServices::Started started,
                            WizardServices::Callback completion) {
            io->exportWithDestinationType(destination, file, approved, started, completion);
        };
        s.cancelExport = [io] { io->cancelExport(); };
    }

    // Serves the main loop until `done` holds (the service works on its own threads).
    bool serveUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            world.pump();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return done();
    }

    std::shared_ptr<WizardTransferProgressPage> progress() {
        return std::dynamic_pointer_cast<WizardTransferProgressPage>(h->flow->currentPage());
    }

    // Import window: choose the row of `source`, then the file.
    void importThroughPages(int32_t source, const std::string& file) {
        auto list = std::make_shared<WizardImportPage>(h->context);
        h->start(list);
        const auto& sources = list->sources();
        const auto row = std::find(sources.begin(), sources.end(), source) - sources.begin();
        list->selectRow(static_cast<int>(row));
        h->flow->next(WizardButton::Next);
        auto filePage =
            std::dynamic_pointer_cast<WizardImportSourceFilePage>(h->flow->currentPage());
        ASSERT_TRUE(filePage);
        EXPECT_FALSE(h->nextEnabled());
        filePage->selectFile();
        ASSERT_EQ(world.panels.size(), 1u);
        world.panels[0].answer(file);
        EXPECT_TRUE(h->nextEnabled());
        h->flow->next(WizardButton::Next);
        ASSERT_TRUE(progress());
    }

    std::shared_ptr<FakePhone> phone = std::make_shared<FakePhone>();
    FakeWizardWorld world;
    std::unique_ptr<FlowHarness> h = std::make_unique<FlowHarness>(world);
    std::shared_ptr<ImportExportService> io_;
    TempFolder files;
};

TEST(ImportExportTables, ListsAndFileTypesInTheirOrder) {
    FakeWizardWorld world;
    FlowHarness h(world);
    auto list = std::make_shared<WizardImportPage>(h.context);
    h.start(list);
    std::vector<std::string> titles;
    for (int32_t s : list->sources()) titles.push_back(importSourceInfo(s)->titleKey);
    EXPECT_EQ(titles,
              (std::vector<std::string>{"IMPORT_SOURCE_LUMVANE_JSON", "IMPORT_SOURCE_LASTPASS_CSV",
                                        "IMPORT_SOURCE_KEEPASS_CSV", "IMPORT_SOURCE_TRUEKEY_CSV",
                                        "IMPORT_SOURCE_DASHLANE_CSV", "IMPORT_SOURCE_DASHLANE_JSON",
                                        "IMPORT_SOURCE_1PASSWORD_CSV"}));
    EXPECT_EQ(list->selectedRow(), 0);
    EXPECT_FALSE(h.flow->button(WizardButton::Back).visible);

    struct Case {
        int32_t source;
        const char* extension;
    };
    for (const Case c : {Case{0, "json"}, Case{2, "csv"}, Case{7, "json"}, Case{6, "csv"}}) {
        FakeWizardWorld w;
        FlowHarness f(w);
        auto page = std::make_shared<WizardImportSourceFilePage>(f.context, c.source);
        f.start(page);
        page->selectFile();
        ASSERT_EQ(w.panels.size(), 1u);
        EXPECT_EQ(w.panels[0].panel.kind, WizardFilePanel::Kind::Open);
        EXPECT_EQ(w.panels[0].panel.extension, c.extension);
        w.panels[0].answer(std::nullopt);  // dismissed: nothing changes
        EXPECT_EQ(page->filePath(), "");
        page->setFilePath("a");
        EXPECT_FALSE(f.nextEnabled());
        page->setFilePath("ab");
        EXPECT_TRUE(f.nextEnabled());
    }
    EXPECT_FALSE(importSourceInfo(8));
    EXPECT_EQ(importSourceInfo(50)->extension, "");
}

TEST(ImportExportTables, ExportDestinationChangeAsksForTheFileAgain) {
    FakeWizardWorld world;
    FlowHarness h(world);
    auto page = std::make_shared<WizardExportPage>(h.context);
    h.start(page);
    EXPECT_EQ(page->destinations(), (std::vector<int32_t>{0, 2}));
    EXPECT_FALSE(h.nextEnabled());
    page->selectFile();
    ASSERT_EQ(world.panels.size(), 1u);
    EXPECT_EQ(world.panels[0].panel.kind, WizardFilePanel::Kind::Save);
    EXPECT_EQ(world.panels[0].panel.defaultName, "Untitled.lumvane.json");
    EXPECT_EQ(world.panels[0].panel.extension, "json");
    world.panels[0].answer("/tmp/x.json");
    EXPECT_TRUE(h.nextEnabled());
    page->selectRow(1);
    EXPECT_EQ(page->filePath(), "");
    EXPECT_FALSE(h.nextEnabled());
    page->selectFile();
    EXPECT_EQ(world.panels[1].panel.defaultName, "Untitled.lastpass.csv");
    EXPECT_EQ(world.panels[1].panel.extension, "csv");
}

TEST_F(ImportExportPagesTest, ImportOfEachSourceReachesThePhoneWithItsStages) {
    struct Case {
        int32_t source;
        const char* file;
        size_t sites;
    };
    const Case cases[] = {{2, "lastpass.csv", 3},
                          {4, "keepass.csv", 0},
                          {6, "onepassword.csv", 0},
                          {3, "dashlane.csv", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        phone->vault.clear();
        h = std::make_unique<FlowHarness>(world);
        world.panels.clear();
        bind(true);
        importThroughPages(c.source, fixture(c.file));
        auto page = progress();
        ASSERT_TRUE(page);
        std::vector<std::string> stages;
        if (page->subtitleKey()) stages.push_back(*page->subtitleKey());
        ASSERT_TRUE(serveUntil([&] {
            if (page->subtitleKey() && stages.back() != *page->subtitleKey()) {
                stages.push_back(*page->subtitleKey());
            }
            return page->done() || page->failed();
        }));
        EXPECT_TRUE(page->done()) << page->failureMessage();
        EXPECT_EQ(stages.front(), "IMPORT_PROCESS_FILE_PARSING");
        EXPECT_TRUE(h->nextEnabled());
        EXPECT_FALSE(phone->vault.empty());
        if (c.sites) EXPECT_EQ(phone->vault.size(), c.sites);
        EXPECT_FALSE(h->flow->ended());
        world.advance(3.9);
        EXPECT_FALSE(h->flow->ended());
        world.advance(0.1);
        EXPECT_EQ(h->flow->end(), WizardFlow::End::Finished);
    }
    // The quoted note of the LastPass file, over two lines, arrives whole.
    bool found = false;
    h = std::make_unique<FlowHarness>(world);
    world.panels.clear();
    bind(true);
    importThroughPages(2, fixture("lastpass.csv"));
    ASSERT_TRUE(serveUntil([&] { return progress()->done() || progress()->failed(); }));
    for (const auto& site : phone->vault) {
        if (!site->loginData()) continue;
        for (const auto& login : *site->loginData()) {
            if (login->notes() == "Line one\nLine two, with comma") found = true;
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(ImportExportPagesTest, FileWithoutRecordsEndsWithAnErrorNotASpinner) {
    struct Case {
        int32_t source;
        const char* name;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {7, "empty.json", R"({"AUTHENTIFIANT": []})", "Unsuported data format"},
        {2, "empty.csv", "url,username,password,extra,name,grouping,fav\n", "No entry for import"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        h = std::make_unique<FlowHarness>(world);
        world.panels.clear();
        bind(true);
        const auto file = files.path() / c.name;
        importtest::writeText(file, c.text);
        importThroughPages(c.source, file.string());
        ASSERT_TRUE(serveUntil([&] { return progress()->done() || progress()->failed(); }));
        EXPECT_TRUE(progress()->failed());
        EXPECT_EQ(progress()->failureMessage(), c.message);
        EXPECT_FALSE(progress()->subtitleKey());
        EXPECT_TRUE(h->nextEnabled());
        EXPECT_EQ(phone->imports, 0);
        world.advance(4.0);
        EXPECT_TRUE(h->flow->ended());
    }
}

TEST_F(ImportExportPagesTest, WithoutAPairedPhoneTheFailureSaysSo) {
    bind(false);
    importThroughPages(2, fixture("lastpass.csv"));
    ASSERT_TRUE(serveUntil([&] { return progress()->failed(); }));
    EXPECT_EQ(progress()->failureMessage(), "Paired device is offline");
    EXPECT_TRUE(h->nextEnabled());
}

TEST_F(ImportExportPagesTest, RefusalOnThePhoneIsShownAndTheWindowClosesOnce) {
    phone->mode = FakePhone::Mode::RefuseRequest;
    importThroughPages(2, fixture("lastpass.csv"));
    ASSERT_TRUE(serveUntil([&] { return progress()->failed(); }));
    EXPECT_EQ(progress()->failureMessage(), "User refused import");
    world.advance(4.0);
    EXPECT_EQ(h->delegate->finished, 1);
    world.advance(4.0);
    EXPECT_EQ(h->delegate->finished, 1);
}

TEST_F(ImportExportPagesTest, CancelOrCloseDuringTheTransferCancelsIt) {
    for (bool closeButton : {false, true}) {
        SCOPED_TRACE(closeButton ? "close button" : "Cancel");
        phone->mode = FakePhone::Mode::DropCallbacks;
        phone->cancels = 0;
        h = std::make_unique<FlowHarness>(world);
        world.panels.clear();
        bind(true);
        importThroughPages(2, fixture("lastpass.csv"));
        ASSERT_TRUE(serveUntil([&] { return phone->imports > 0; }));
        phone->imports = 0;
        if (closeButton) {
            h->flow->closeRequested();
        } else {
            h->flow->cancel(WizardButton::Cancel);
        }
        EXPECT_EQ(phone->cancels, 1);
        EXPECT_EQ(h->delegate->cancelled, 1);
    }
}

TEST_F(ImportExportPagesTest, ExportWritesAFileThatReadsBackEqual) {
    importtest::runImport(*io_, TBNImportSource::LASTPASS_CSV, fixture("lastpass.csv"));
    ASSERT_EQ(phone->vault.size(), 3u);
    const auto vault = phone->vault;

    auto page = std::make_shared<WizardExportPage>(h->context);
    h->start(page);
    page->selectFile();
    const auto target = files.path() / "Untitled.lumvane.json";
    world.panels.at(0).answer(target.string());
    h->flow->next(WizardButton::Next);
    ASSERT_TRUE(progress());
    EXPECT_EQ(progress()->subtitleKey(), "EXPORT_PROCESS_WAITING_APPROVE");
    ASSERT_TRUE(serveUntil([&] { return progress()->done() || progress()->failed(); }));
    EXPECT_TRUE(progress()->done()) << progress()->failureMessage();

    std::shared_ptr<TBNU2FDataList> keys;
    std::optional<std::string> readError;
    auto back = io_->loadRecordsFromLumvaneJsonFile(
        target, keys, [&](std::optional<std::string> e) { readError = e; });
    EXPECT_FALSE(readError) << *readError;
    ASSERT_EQ(back.size(), vault.size());
    // An empty text and no text read back alike.
    auto str = [](const std::optional<std::string>& v) { return v.value_or(""); };
    for (size_t i = 0; i < vault.size(); ++i) {
        SCOPED_TRACE(str(vault[i]->domain()));
        EXPECT_EQ(str(back[i]->domain()), str(vault[i]->domain()));
        EXPECT_EQ(str(back[i]->siteUrl()), str(vault[i]->siteUrl()));
        EXPECT_EQ(*back[i]->formUrls(), *vault[i]->formUrls());
        ASSERT_EQ(back[i]->loginData()->size(), vault[i]->loginData()->size());
        for (size_t j = 0; j < vault[i]->loginData()->size(); ++j) {
            const auto& got = *back[i]->loginData()->at(j);
            const auto& want = *vault[i]->loginData()->at(j);
            EXPECT_EQ(str(got.login()), str(want.login()));
            EXPECT_EQ(str(got.password()), str(want.password()));
            EXPECT_EQ(str(got.notes()), str(want.notes()));
            EXPECT_EQ(got.isFavorited(), want.isFavorited());
        }
    }
    world.advance(4.0);
    EXPECT_EQ(h->delegate->finished, 1);
}

}  // namespace
}  // namespace lumvane::wizardtest
