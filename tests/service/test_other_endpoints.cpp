#include "ServiceProcess.h"
#include "ServiceTestUtil.h"
#include "cls.Service.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <thread>

namespace {

class OtherEndpoints : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { sService = new TServiceProcess(); }
    static void TearDownTestSuite()
    {
        delete sService;
        sService = nullptr;
    }
    static TAnswer Get(const std::string& target) { return HttpGet(sService->Port(), target); }
    static inline TServiceProcess* sService = nullptr;
};

// Walked by depth as the program does: root, list, suggestion, then Category and
// PercentItemFound, with CategoryID and CategoryName below Category.
struct TWalkedSuggestion
{
    int id = 0;
    std::string name;
    int percent = 0;
};

std::vector<TWalkedSuggestion> WalkSuggestions(const std::string& xml)
{
    std::vector<TWalkedSuggestion> out;
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size()))
        return out;
    for (pugi::xml_node e1 : ElementChildren(doc.document_element())) {
        const std::vector<pugi::xml_node> e2s = ElementChildren(e1);
        if (e2s.empty())
            continue;
        out.resize(e2s.size());
        for (std::size_t i = 0; i < e2s.size(); ++i)
            for (pugi::xml_node e3 : ElementChildren(e2s[i])) {
                const std::string n = e3.name();
                if (n == "Category") {
                    for (pugi::xml_node f : ElementChildren(e3)) {
                        if (std::string(f.name()) == "CategoryName")
                            out[i].name = f.text().get();
                        if (std::string(f.name()) == "CategoryID")
                            out[i].id = f.text().as_int();
                    }
                } else if (n == "PercentItemFound") {
                    out[i].percent = e3.text().as_int();
                }
            }
    }
    return out;
}

TEST_F(OtherEndpoints, CategorySuggestionsInTheShapeTheDialogWalks)
{
    const TAnswer a = Get(SuggestTarget("iphone 12 case"));
    ASSERT_EQ(a.status, 200);
    const std::vector<TWalkedSuggestion> s = WalkSuggestions(a.body);
    ASSERT_GE(s.size(), 2u);
    ASSERT_LE(s.size(), 10u);
    EXPECT_EQ(s[0].id, 9355);
    EXPECT_EQ(s[0].name, "Cell Phones & Smartphones");
    int sum = 0;
    for (const TWalkedSuggestion& x : s) {
        EXPECT_GT(x.id, 0);
        EXPECT_FALSE(x.name.empty());
        sum += x.percent;
    }
    EXPECT_GT(sum, 0);
    EXPECT_LE(sum, 100);
    EXPECT_NE(a.body.find("<CategoryCount>"), std::string::npos);

    // Any word gets an answer; the search signature (with an entry count) is refused here.
    EXPECT_FALSE(WalkSuggestions(Get(SuggestTarget("qwzx")).body).empty());
    const std::string b = B64("iphone");
    const std::string withCount = "/ebayAPI/bidlark/category_suggest.php?query=" + b +
                                  "&securityHash=" + Sha1("9" + Sha1(b + "9" + "100")) +
                                  "&securityKey=9";
    EXPECT_EQ(Get(withCount).body.rfind("Error: #2 ", 0), 0u);
    EXPECT_EQ(Get("/ebayAPI/bidlark/category_suggest.php?query=" + b).body.rfind("Error: #1 ", 0),
              0u);
}

TEST_F(OtherEndpoints, ErrorReportIsRecorded)
{
    const std::string id = "6f1c2a7e-93b1-4c55-8d1e-0b9a2f3c4d5e";
    const TAnswer a = Get("/register/error.php?t=" + B64(id) + "&c=18");
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.body.rfind("OK", 0), 0u) << a.body;
    EXPECT_EQ(Get("/register/error.php?t=" + B64(id)).body.rfind("Error: #1 ", 0), 0u);
    EXPECT_EQ(Get("/register/error.php?t=@@@&c=1").body.rfind("Error: #5 ", 0), 0u);
    // A code cannot forge a second line in the record.
    Get("/register/error.php?t=" + B64(id) + "&c=7%0Afake");

    QFile file(sService->DataDir() + "/error-reports.txt");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    const QList<QByteArray> fields = lines[0].split('\t');
    ASSERT_GE(fields.size(), 3);
    EXPECT_EQ(fields[1].toStdString(), id);
    EXPECT_EQ(fields[2].toStdString(), "18");
    EXPECT_TRUE(lines[1].contains("7?fake"));
}

TEST_F(OtherEndpoints, UpdateInformationAndInstallerComeFromTheReleasesFolder)
{
    // Nothing published: the running version, so that no update is offered.
    EXPECT_EQ(Get("/updates.php?ABB=123").body,
              "Version: 2.0.0.63\r\nNotes: No newer release is published.\r\n");
    EXPECT_EQ(Get("/download/Bidlark.exe?ABB=17").status, 404);

    const QString releases = sService->DataDir() + "/releases";
    for (const char* v : {"2.0.0.64", "2.0.0.9", "2.0.0.100", "notes"})
        QDir().mkpath(releases + "/" + v);
    auto write = [](const QString& path, const QByteArray& data) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    };
    QByteArray installer;
    for (int i = 0; i < 300000; ++i)
        installer += static_cast<char>(i * 7);
    write(releases + "/2.0.0.100/Bidlark.exe", installer);
    write(releases + "/2.0.0.100/notes.txt", "Faster search\nsecond line ignored\n");
    write(releases + "/2.0.0.100/reply-extra.txt", "Size: 300000\n");
    write(releases + "/2.0.0.64/Bidlark.exe", "old");

    EXPECT_EQ(Get("/updates.php?ABB=123").body,
              "Version: 2.0.0.100\r\nNotes: Faster search\r\nSize: 300000\n");
    const TAnswer d = Get("/download/Bidlark.exe?ABB=17");
    EXPECT_EQ(d.status, 200);
    EXPECT_EQ(d.body.size(), static_cast<std::size_t>(installer.size()));
    EXPECT_TRUE(d.body == installer.toStdString());
}

TEST_F(OtherEndpoints, PagesPicturesAndItemLinks)
{
    for (const char* page :
         {"/", "/share/", "/donate/", "/tutorial/", "/program_recommended_links.php"}) {
        const TAnswer a = Get(page);
        EXPECT_EQ(a.status, 200) << page;
        EXPECT_EQ(a.contentType.rfind("text/html", 0), 0u) << page;
        EXPECT_NE(a.body.find("</html>"), std::string::npos) << page;
    }

    TSearchKeys k;
    k.keywords = "nikon";
    k.maxEntries = "2";
    const TWalkedAnswer w = WalkSearchAnswer(Get(SearchTarget(k)).body);
    ASSERT_EQ(w.items.size(), 2u);
    const std::string id = w.items[0]["ItemID"];

    const std::string base = "http://127.0.0.1:" + std::to_string(sService->Port());
    const TAnswer pic = Get(w.items[0]["GalleryURL"].substr(base.size()));
    EXPECT_EQ(pic.status, 200);
    EXPECT_EQ(pic.contentType, "image/png");
    EXPECT_EQ(pic.body.rfind("\x89PNG\r\n\x1a\n", 0), 0u);
    EXPECT_NE(pic.body, Get(w.items[1]["GalleryURL"].substr(base.size())).body)
        << "every item has its own picture";

    const TAnswer page = Get("/item/" + id);
    EXPECT_EQ(page.status, 200);
    std::string escapedTitle;
    for (char c : w.items[0]["Title"])
        escapedTitle += c == '&' ? std::string("&amp;") : std::string(1, c);
    EXPECT_NE(page.body.find(escapedTitle), std::string::npos);
    EXPECT_EQ(Get("/item/123").status, 404);

    const TAnswer rover =
        Get("/rover/1/711-53200-19255-0/1?icep_ff3=2&pub=5575&toolid=10001&campid=5336&"
            "customid=&item=" +
            id + "&ipn=psmain");
    EXPECT_EQ(rover.status, 302);
    EXPECT_EQ(rover.location, base + "/item/" + id);
}

TEST(TestHooks, AreAbsentWithoutTheFlag)
{
    QTemporaryDir dir;
    for (bool hooks : {false, true}) {
        TServiceOptions o;
        o.port = 0;
        o.dataDir = dir.path().toStdString();
        o.testHooks = hooks;
        o.threads = 4;
        TService service(o);
        const int port = service.Bind();
        ASSERT_GT(port, 0);
        std::thread runner([&] { service.Run(); });
        const TAnswer a = HttpGet(port, "/_test/advance?seconds=60");
        EXPECT_EQ(a.status, hooks ? 200 : 404);
        if (hooks) {
            EXPECT_EQ(a.body, "OK");
        }
        service.Stop();
        runner.join();
    }
}

} // namespace
