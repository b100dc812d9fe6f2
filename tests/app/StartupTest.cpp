#include "AppFixture.h"

#include "app/Unit2.h"
#include "app/Unit6.h"
#include "link/SerialLink.h"

#include <QDateEdit>

using apptest::AppFixture;
using apptest::ModalAnswer;

TEST(Startup, ProgramFolderAndTitleComeFromTheExecutable)
{
    EXPECT_EQ(startup::programFolderOf("/opt/Lab/HEMATIX.EXE"), "/opt/Lab/");
    EXPECT_EQ(startup::applicationTitleOf("/opt/Lab/HEMATIX.EXE"), "Hematix");
    EXPECT_EQ(startup::applicationTitleOf("/usr/local/bin/hematix"), "Hematix");
    EXPECT_EQ(startup::applicationTitleOf("/x/LabCounter"), "Labcounter") << "a name without a dot is taken whole";
    EXPECT_EQ(startup::applicationTitleOf("/x/my.prog.exe"), "My");
    EXPECT_EQ(startup::programFolderOf("/hematix"), "/");
}

TEST_F(AppFixture, StartsOnTheTableBesideTheProgramWithStartupSettings)
{
    makeTable();
    addRows(3);
    writeIni("[MAIN]\nPort=/dev/ttyS7\nPath1=/elsewhere/DB/\n");
    start();
    EXPECT_EQ(Form1->ProgramFolder, folder);
    EXPECT_EQ(Form1->PortName, "/dev/ttyS7");
    EXPECT_EQ(Form1->Rate, "ERROR");
    EXPECT_EQ(Form1->DatabasePath, "/elsewhere/DB/");
    ASSERT_TRUE(Form1->Table1->Active());
    EXPECT_EQ(Form1->Table1->TableName(), folder + "DB/HEMATIX.dbf") << "Path1 does not move the table";
    EXPECT_EQ(Form1->Table1->RecNo(), 1) << "an opened table stands on its first row";
    Form1->show();
    EXPECT_EQ(Form1->Table1->RecNo(), 3) << "showing moves to the last row";
    EXPECT_FALSE(Form1->Timer1->isActive()) << "nothing is received before Start";
    EXPECT_FALSE(Form1->link()->listening());
}

TEST_F(AppFixture, WithoutATableStartupGoesOnAndReportsTheClosedTable)
{
    // No DB folder at all: the engine's error is shown, the rest of the create handler skipped.
    QString createError;
    {
        ModalAnswer ok("OK");
        start();
        createError = ok.text();
    }
    EXPECT_FALSE(createError.isEmpty());
    EXPECT_FALSE(Form1->Table1->Active());
    EXPECT_FALSE(Form1->tray()) << "no tray icon in a run whose table did not open";
    ASSERT_TRUE(Form2 && Form6 && Form7) << "the other windows are still created";
    ModalAnswer ok("OK");
    Form1->show();
    EXPECT_TRUE(ok.answered());
    EXPECT_EQ(ok.text(), "Table1: Cannot perform this operation on a closed dataset");
}

TEST_F(AppFixture, WindowsAreCreatedInOrderWithTheirCreateEffects)
{
    makeTable();
    start();
    ASSERT_TRUE(Form1 && Form2 && Form3 && Form4 && Form5 && Form6 && Form7);
    EXPECT_EQ(Form6->DateTimePicker1->date(), QDate::currentDate());
    EXPECT_EQ(Form6->DateTimePicker2->date(), QDate::currentDate());
    EXPECT_EQ(Form1->Timer1->interval(), 2000);
}

TEST_F(AppFixture, StartWithAMissingPortChangesNothingAndCloseWithoutStartIsQuiet)
{
    makeTable();
    start();
    EXPECT_EQ(Form1->PortName, "ERROR");
    Form1->N2Click();
    EXPECT_FALSE(Form1->link()->listening());
    EXPECT_FALSE(Form1->Timer1->isActive());
    Form1->FormClose();
}

// Nothing but start-up makes the folder the receiver writes into; when it cannot, start-up says so.
TEST_F(AppFixture, StartupMakesTheTempFolderOrSaysItCannot)
{
    makeTable();
    ASSERT_TRUE(QDir(folder + "Temp").removeRecursively());
    start();
    EXPECT_TRUE(QFileInfo(folder + "Temp").isDir());
    forms::destroyAll();

    ASSERT_TRUE(QDir(folder + "Temp").removeRecursively());
    ASSERT_TRUE(testsupport::writeFile(folder + "Temp", "a file in the way"));
    apptest::ModalAnswer ok("OK");
    start();
    EXPECT_TRUE(ok.answered());
    EXPECT_TRUE(ok.text().contains(folder + "Temp/")) << ok.text().toStdString();
}
