#include "menus/qt/TRecentFilesMenu.h"

#include "tests/menus/Fakes.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

#include <memory>
#include <set>
#include <stdexcept>
#include <string>

namespace kavrel {
namespace {

using test::TMemoryStore;
using test::TStoreData;

struct SeenBox {
    QString Title;
    QString Text;
    bool Seen = false;
};

// Waits for the next message box, remembers what it said and presses the button.
void AnswerNextBox(QMessageBox::StandardButton button, SeenBox* seen)
{
    auto* timer = new QTimer(qApp);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, button, seen] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box == nullptr || !box->isVisible())
                continue;
            seen->Title = box->windowTitle();
            seen->Text = box->text();
            seen->Seen = true;
            if (QAbstractButton* b = box->button(button))
                b->click();
            else
                box->reject();
            timer->deleteLater();
            return;
        }
        if (++*tries > 500)
            timer->deleteLater();
    });
    timer->start(10);
}

class TRecentFilesMenuTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (QApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "test_menus_gui";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
        }
    }

    TRecentFilesMenuTest()
    {
        id.SetCompany("MorvaneData");
        id.SetProductName("Kavrel");
        id.SetVersion("0.0.0.2");
        open = menu.addAction("Open soundfile...");
        save = menu.addAction("Save soundfile...");
        separator = menu.addSeparator();
        exit = menu.addAction("E&xit");

        store = std::make_shared<TStoreData>();
        list.SetStoreFactory([this](const TProgId&) -> std::unique_ptr<TKeyValueStore> {
            return std::make_unique<TMemoryStore>(store);
        });
        list.SetFileExists([this](const std::string& path) { return existing.count(path) > 0; });
        list.SetMenuPos(2);
        list.SetMaxItems(9);
        list.SetAllowFileOnRemovable(false);
        list.SetAllowFileOnCDROM(false);
        list.SetAllowFileOnRAMDisk(false);
        list.SetProgId(&id);
        adapter = std::make_unique<TRecentFilesMenu>(list);
        adapter->SetMenu(&menu);
        list.Loaded();
    }

    void Add(const std::string& path)
    {
        existing.insert(path);
        ASSERT_TRUE(list.AddFile(path));
    }

    TProgId id;
    QMenu menu{"&File"};
    QAction* open = nullptr;
    QAction* save = nullptr;
    QAction* separator = nullptr;
    QAction* exit = nullptr;
    std::shared_ptr<TStoreData> store;
    std::set<std::string> existing;
    TRecentFiles list;
    std::unique_ptr<TRecentFilesMenu> adapter;
};

TEST_F(TRecentFilesMenuTest, ItemsGoIntoTheMenuAtMenuPos)
{
    Add("/data/a.wav");
    Add("/data/b&c.wav");
    const QList<QAction*> actions = menu.actions();
    ASSERT_EQ(actions.size(), 4 + 18);
    EXPECT_EQ(actions[0], open);
    EXPECT_EQ(actions[1], save);
    EXPECT_EQ(actions[2], adapter->BarAction());
    for (int slot = 1; slot <= 16; ++slot)
        EXPECT_EQ(actions[2 + slot], adapter->FileAction(slot)) << slot;
    EXPECT_EQ(actions[19], adapter->ClearAction());
    EXPECT_EQ(actions[20], separator);
    EXPECT_EQ(actions[21], exit);

    EXPECT_TRUE(adapter->BarAction()->isSeparator());
    EXPECT_TRUE(adapter->BarAction()->isVisible());
    EXPECT_EQ(adapter->FileAction(1)->text(), "&1 /data/b&&c.wav");
    EXPECT_EQ(adapter->FileAction(2)->text(), "&2 /data/a.wav");
    EXPECT_TRUE(adapter->FileAction(2)->isVisible());
    EXPECT_FALSE(adapter->FileAction(3)->isVisible());
    EXPECT_EQ(adapter->ClearAction()->text(), "&Clear list...");
    EXPECT_TRUE(adapter->ClearAction()->isVisible());
}

TEST_F(TRecentFilesMenuTest, EmptyListShowsNothing)
{
    EXPECT_EQ(menu.actions().size(), 22);
    EXPECT_FALSE(adapter->BarAction()->isVisible());
    EXPECT_FALSE(adapter->ClearAction()->isVisible());
    for (int slot = 1; slot <= 16; ++slot)
        EXPECT_FALSE(adapter->FileAction(slot)->isVisible());
}

TEST_F(TRecentFilesMenuTest, MenuPosPastTheEndAppends)
{
    list.SetMenuPos(100);
    Add("/data/a.wav");
    const QList<QAction*> actions = menu.actions();
    ASSERT_EQ(actions.size(), 22);
    EXPECT_EQ(actions[3], exit);
    EXPECT_EQ(actions[4], adapter->BarAction());
    EXPECT_EQ(actions[21], adapter->ClearAction());
}

TEST_F(TRecentFilesMenuTest, ChoosingAFileReportsIt)
{
    Add("/data/a.wav");
    Add("/data/b.wav");
    int index = 0;
    std::string fileName;
    list.OnClick = [&](TRecentFiles&, int i, const std::string& name) {
        index = i;
        fileName = name;
    };
    adapter->FileAction(2)->trigger();
    EXPECT_EQ(index, 2);
    EXPECT_EQ(fileName, "/data/a.wav");
    EXPECT_EQ(adapter->FileAction(1)->text(), "&1 /data/a.wav");
}

TEST_F(TRecentFilesMenuTest, FailingClickHandlerIsShownNotThrownThroughQt)
{
    Add("/data/a.wav");
    list.OnClick = [](TRecentFiles&, int, const std::string&) {
        throw std::runtime_error("Can't open /data/a.wav: not a wave file");
    };
    SeenBox seen;
    AnswerNextBox(QMessageBox::Ok, &seen);
    adapter->FileAction(1)->trigger();
    ASSERT_TRUE(seen.Seen);
    EXPECT_EQ(seen.Title, "Kavrel");
    EXPECT_EQ(seen.Text, "Can't open /data/a.wav: not a wave file");
}

TEST_F(TRecentFilesMenuTest, VanishedFileShowsTheWarningAndLeavesTheMenu)
{
    Add("/data/a.wav");
    Add("/data/gone.wav");
    existing.erase("/data/gone.wav");
    SeenBox seen;
    AnswerNextBox(QMessageBox::Ok, &seen);
    adapter->FileAction(1)->trigger();
    ASSERT_TRUE(seen.Seen);
    EXPECT_EQ(seen.Title, "File not found");
    EXPECT_EQ(seen.Text, "Can't find \n/data/gone.wav");
    EXPECT_EQ(adapter->FileAction(1)->text(), "&1 /data/a.wav");
    EXPECT_FALSE(adapter->FileAction(2)->isVisible());
}

TEST_F(TRecentFilesMenuTest, ClearAsksAndEmptiesOnYes)
{
    Add("/data/a.wav");
    SeenBox no;
    AnswerNextBox(QMessageBox::No, &no);
    adapter->ClearAction()->trigger();
    ASSERT_TRUE(no.Seen);
    EXPECT_EQ(no.Title, "Clear list");
    EXPECT_EQ(no.Text, "Do you want to clear the list of recently used files?");
    EXPECT_TRUE(adapter->FileAction(1)->isVisible());

    SeenBox yes;
    AnswerNextBox(QMessageBox::Yes, &yes);
    adapter->ClearAction()->trigger();
    ASSERT_TRUE(yes.Seen);
    EXPECT_FALSE(adapter->FileAction(1)->isVisible());
    EXPECT_FALSE(adapter->BarAction()->isVisible());
    EXPECT_EQ(list.Slot(1), "");
}

TEST_F(TRecentFilesMenuTest, DetachingRemovesTheItems)
{
    Add("/data/a.wav");
    adapter->SetMenu(nullptr);
    EXPECT_EQ(menu.actions().size(), 4);
    adapter->SetMenu(&menu);
    EXPECT_EQ(menu.actions().size(), 22);
    adapter.reset();
    EXPECT_EQ(menu.actions().size(), 4);
    EXPECT_FALSE(list.MenuAttached());
}

} // namespace
} // namespace kavrel
