// End-to-end, what a backup of a tree holds: every file under its own name,
// a tree in code page 932 as before, deep paths and a file too large.
#include "tests/e2e/program_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using testing_support::ReadBytes;
using testing_support::Recode;
using testing_support::RunUnix;
using testing_support::ShellBytes;

namespace {

using e2e::App;
using e2e::EndToEnd;
using e2e::WithoutDates;
using project_dat::File;
using project_dat::Record;

// A tree of names that code page 932 holds gives the response file and the
// cabinet it always gave (LZX, the archiver's default, since that became it). A tree of names it lacks, with links, keeps every
// file under its own name and bytes, as cabextract and 7-Zip read them back,
// and names the folder link it did not follow.
TEST_F(EndToEnd, EveryFileUnderItsOwnNameAndA932TreeAsBefore)
{
    typedef std::vector<std::pair<std::string, std::string>> Files; // UTF-8 name (with '/'), bytes
    const std::string korean = "\xED\x95\x9C\xEA\xB5\xAD";
    const Files only932 = {{"a.txt", "alpha"},
                           {"sub/b.h", "beta"},
                           {Recode("ソース/中.txt", CP_ACP, CP_UTF8), "naka"},
                           {Recode("表.txt", CP_ACP, CP_UTF8), "hyou"}};
    const Files beyond = {{"a.txt", "alpha"},
                          {Recode("日本語/表示.txt", CP_ACP, CP_UTF8), "hyouji"},
                          {"caf\xC3\xA9.md", "cafe"},
                          {"\xC3\x9C"
                           "ber.txt",
                           "umlaut"},
                          {"Uber.txt", "plain"},
                          {korean + ".txt", "korean"},
                          {"smile\xF0\x9F\x98\x80.txt", "smile"},
                          {korean + "dir/x.txt", "x"},
                          {"sub/s.txt", "s"}};
    const std::string tree = m_work.UnixPath() + "/tree";
    const struct
    {
        const char* what;
        const Files& files;
        std::string links;         // shell commands run in the tree after the files are made
        std::string warning;       // the box after the outcome, empty for none
        std::string response;      // respons.txt, empty: not compared
        std::string cabinetSha256; // of the cabinet without its dates, empty: not compared
    } cases[] = {
        {"names of code page 932 only", only932, "", "",
         "\"a.txt\"\r\n\"sub\\b.h\"\r\n\"ソース\\中.txt\"\r\n\"表.txt\"\r\n",
         "62672817bc1a4c420a0c867b607502bacf6ee3f9bc0b9a55af0d8bca338e7091"},
        {"names outside code page 932, and links", beyond, "ln -s a.txt flink.txt && ln -s .. sub/loop",
         "たどらなかったフォルダのリンクが 1 個あり、その先のファイルはバックアップされていません。\n" +
             std::string(m_work / "tree\\sub\\loop"),
         "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string make = "rm -rf " + tree + " " + m_work.UnixPath() + "/x* && mkdir -p " + tree + " && cd " + tree;
        Files expected = c.files;
        for (const auto& f : c.files) {
            size_t slash = f.first.rfind('/');
            if (slash != std::string::npos)
                make += " && mkdir -p " + ShellBytes(f.first.substr(0, slash));
            make += " && printf " + f.second + " > " + ShellBytes(f.first) + " && touch -d @1600000000 " +
                    ShellBytes(f.first);
        }
        if (!c.links.empty()) {
            make += " && " + c.links;
            expected.push_back({"flink.txt", "alpha"});
        }
        ASSERT_EQ(0u, RunUnix(make));
        std::sort(expected.begin(), expected.end());
        // 7-Zip reads names in UTF-8 only: those stored in code page 932 it shows as their bytes.
        std::string listing;
        std::vector<std::string> sevenZipReads;
        for (const auto& f : expected) {
            listing += "./" + f.first + "=" + f.second + "\n";
            bool ascii = std::all_of(f.first.begin(), f.first.end(), [](char ch) { return ch > 0; });
            if (ascii || Recode(Recode(f.first, CP_UTF8, CP_ACP), CP_ACP, CP_UTF8) != f.first)
                sevenZipReads.push_back("./" + f.first + "=" + f.second + "\n");
        }

        WriteProjectDat(File(1, 0, Record("p", std::string(m_work / "tree"))));
        App app(m_program);
        ASSERT_NE(nullptr, app.main);
        app.Press(IDC_RUN_BACKUP, true);
        ASSERT_TRUE(app.ChooseFile(std::string(m_work / "x.cab")));
        EXPECT_EQ("成功しました。", app.AnswerBox(IDOK));
        if (!c.warning.empty()) {
            EXPECT_EQ(c.warning, app.AnswerBox(IDOK));
        }
        ASSERT_TRUE(app.CloseWithEscape());

        if (!c.response.empty()) {
            EXPECT_EQ(c.response, ReadBytes(m_program / "respons.txt"));
        }
        ExpectSameInEveryLocale(std::string(c.what) + ": respons.txt", ReadBytes(m_program / "respons.txt"));
        ExpectSameInEveryLocale(std::string(c.what) + ": cabinet", WithoutDates(ReadBytes(m_work / "x.cab")));
        if (!c.cabinetSha256.empty()) {
            ASSERT_TRUE(testing_support::WriteBytes(m_work / "xmasked", WithoutDates(ReadBytes(m_work / "x.cab"))));
            ASSERT_EQ(0u, RunUnix("cd " + m_work.UnixPath() + " && sha256sum xmasked | cut -c1-64 > xsum"));
            EXPECT_EQ(c.cabinetSha256 + "\n", ReadBytes(m_work / "xsum"));
        }
        const std::string show =
            " && find . -type f | LC_ALL=C sort | while read -r f; do printf '%s=' \"$f\"; cat \"$f\"; echo; done";
        ASSERT_EQ(0u, RunUnix("cd " + m_work.UnixPath() + " && cabextract -q -e CP932 -d xc x.cab && cd xc" + show +
                              " > ../xc.txt"));
        EXPECT_EQ(listing, ReadBytes(m_work / "xc.txt")) << "cabextract -e CP932";
        ASSERT_EQ(0u, RunUnix("cd " + m_work.UnixPath() + " && 7zz x -oxz x.cab > /dev/null && cd xz" + show +
                              " > ../xz.txt"));
        const std::string sevenZip = ReadBytes(m_work / "xz.txt");
        EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), std::count(sevenZip.begin(), sevenZip.end(), '\n'));
        for (const std::string& line : sevenZipReads)
            EXPECT_NE(std::string::npos, sevenZip.find(line)) << "7-Zip: " << line;
    }
}

// A tree that runs deep and holds a disk image: a file past MAX_PATH whose stored name fits 255 bytes is
// stored; one whose name does not fit and a sparse file over 2 GiB are left out and named after the outcome.
TEST_F(EndToEnd, DeepPathsAndAFileTooLargeNeverFailTheBackup)
{
    const std::string tree = m_work.UnixPath() + "/tree", folder(130, 'P'), fits = std::string(120, 'f') + ".txt",
                      long_ = std::string(121, 'g') + ".txt";
    ASSERT_EQ(0u, RunUnix("rm -rf " + tree + " && mkdir -p " + tree + "/" + folder + " && cd " + tree +
                          " && printf deep > " + folder + "/" + fits + " && printf long > " + folder + "/" + long_ +
                          " && truncate -s 2500M image.bin"));
    const std::string source(m_work / "tree");
    ASSERT_GT(source.size() + 1 + folder.size() + 1 + fits.size(), size_t(MAX_PATH)) << "the stored file lies past it";
    WriteProjectDat(File(1, 0, Record("p", source)));
    App app(m_program);
    ASSERT_NE(nullptr, app.main);
    app.Press(IDC_RUN_BACKUP, true);
    ASSERT_TRUE(app.ChooseFile(std::string(m_work / "deep.cab")));
    EXPECT_EQ("成功しました。", app.AnswerBox(IDOK));
    EXPECT_EQ("格納する名前が 255 バイトを超えるファイルまたはフォルダが 1 個あり、バックアップされていません。\n" +
                  source + "\\" + folder + "\\" + long_ +
                  "\n\n大きすぎて (約 2 GB 超) 格納できないファイルが 1 個あり、バックアップされていません。\n" +
                  source + "\\image.bin",
              app.AnswerBox(IDOK));
    ASSERT_TRUE(app.CloseWithEscape());
    EXPECT_EQ("\"" + folder + "\\" + fits + "\"\r\n", ReadBytes(m_program / "respons.txt"));
    // Listed and piped out: an extracted path this long is more than some extractors make.
    ASSERT_EQ(0u, RunUnix("cd " + m_work.UnixPath() + " && cabextract -l deep.cab | grep -c '" + fits +
                          "' > count.txt && cabextract -q -p deep.cab > content.txt"));
    EXPECT_EQ("1\n", ReadBytes(m_work / "count.txt"));
    EXPECT_EQ("deep", ReadBytes(m_work / "content.txt"));
}

} // namespace
