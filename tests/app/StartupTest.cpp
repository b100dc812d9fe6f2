#include "AppFixture.h"

#include "app/Unit2.h"
#include "app/Unit3.h"
#include "app/Unit4.h"
#include "app/Unit5.h"
#include "app/Unit6.h"
#include "app/Unit7.h"
#include "link/SerialLink.h"

#include <QDateEdit>
#include <QMenuBar>
#include <algorithm>

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

namespace {

// The objects given a parent, in the order they got it. A window owned by the main window gets
// it as its construction begins, so this order is the order in which they were created.
struct Adoptions : QObject {
    std::vector<const QObject*> children;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::ChildAdded)
            children.push_back(static_cast<QChildEvent*>(e)->child());
        return false;
    }
    qsizetype at(const QObject* o) const { return std::find(children.begin(), children.end(), o) - children.begin(); }
};

} // namespace

TEST_F(AppFixture, WindowsAreCreatedInOrderWithTheirCreateEffects)
{
    makeTable();
    Adoptions adoptions;
    qApp->installEventFilter(&adoptions);
    start();
    qApp->removeEventFilter(&adoptions);
    ASSERT_TRUE(Form1 && Form2 && Form3 && Form4 && Form5 && Form6 && Form7);
    // The main window comes first: it owns the six others, and its own controls were adopted
    // before any of them.
    const QObject* forms[] = {Form1->menuBar(), Form2, Form3, Form4, Form5, Form6, Form7};
    for (int i = 1; i < 7; ++i) {
        ASSERT_EQ(Form1, forms[i]->parent());
        ASSERT_LT(adoptions.at(forms[i]), qsizetype(adoptions.children.size())) << "Form" << i + 1 << " not seen";
        EXPECT_LT(adoptions.at(forms[i - 1]), adoptions.at(forms[i])) << "Form" << i + 1 << " created out of order";
    }
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
