#include "backup/BackupJob.h"
#include "tests/framework/TestSupport.h" // sets the multibyte code page

#include <gtest/gtest.h>

#include <string>

// The items joined by '|'.
static std::string Joined(const CStringArray& array)
{
    std::string text;
    for (int i = 0; i < array.GetSize(); i++)
        text += (i ? "|" : "") + std::string(array[i]);
    return text;
}

TEST(IgnoreLists, SplittingAndMatching)
{
    struct { const char *text, *pieces; } splits[] = {
        {"", ""}, {"obj,h", "obj|h"}, {"a,,b", "a||b"}, {"a,", "a"}, {",a", "|a"}, {"表,ポ, x ", "表|ポ| x "}};
    for (const auto& s : splits) {
        CStringArray array;
        array.Add("left over");
        SplitList(array, s.text, ',');
        EXPECT_EQ(s.pieces, Joined(array)) << s.text;
    }

    Project project;
    BackupJob job;
    job.m_pProject = &project;
    project.ignoredExtensions = " obj , h,,\tc, d　,";
    project.ignoredFolders = " Debug , Release,,src\\Debug";
    job.PrepareIgnoreLists();
    EXPECT_EQ(".obj|.h|.|.\tc|.d　", Joined(job.m_arrIgnoreExt));
    EXPECT_EQ("Debug|Release||src\\Debug", Joined(job.m_arrIgnoreFolder));

    // Each name is checked against both settings, or against empty ones.
    struct { bool empty; const char* name; bool folder, included; } rules[] = {
        {false, "main.OBJ", false, false}, {false, "x.h", false, false},    {false, "a.C表", false, false},
        {false, "Makefile", false, true},  {false, "x.lib", false, true},   {false, "x.tar.gz", false, true},
        {false, "app.exe", false, true},   {false, "x.hpp", false, true},   {false, "表.c", false, true},
        {true, "a.obj", false, true},      {false, "debug", true, false},   {false, "RELEASE", true, false},
        {false, "表", true, false},        {false, "Debug2", true, true},   {false, "src", true, true},
        {false, "表示", true, true},       {true, "Debug", true, true},
        // ア is 83 41 and ヂ is 83 61: trail bytes that differ only as ASCII letters differ in case.
        {false, "x.ア", false, false},     {false, "x.ヂ", false, true},    {false, "ア", true, false},
        {false, "ヂ", true, true},
    };
    for (const auto& r : rules) {
        project.ignoredExtensions = r.empty ? "" : "obj, h, .lib, tar.gz, *.exe, c表, ア";
        project.ignoredFolders = r.empty ? "" : "Debug, Release, src\\Debug, 表, ア";
        job.PrepareIgnoreLists();
        EXPECT_EQ(r.included, r.folder ? job.IsFolderIncluded(r.name) : job.IsFileIncluded(r.name)) << r.name;
    }
}
