#pragma once

#include "menus/TRecentFiles.h"

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>

class QAction;

namespace kavrel {

// Shows a TRecentFiles list in a QMenu: inserts a separator, the 16 file items and the clear
// item at the list's MenuPos, keeps their captions and visibility up to date, and shows the
// warning and question boxes. Takes over the list's OnRefresh, OnWarning and OnQuestion, and
// gives the list an ini store beside the settings file unless it has a store factory already.
class TRecentFilesMenu : public QObject {
    Q_OBJECT
public:
    // list must outlive this object.
    explicit TRecentFilesMenu(TRecentFiles& list, QObject* parent = nullptr);
    ~TRecentFilesMenu() override;

    TRecentFiles& List() { return m_list; }

    // The menu the items go into; null detaches. Call before the list's Loaded().
    QMenu* Menu() const { return m_menu; }
    void SetMenu(QMenu* menu);

    // Parent of the message boxes; default: the menu's parent widget.
    void SetDialogParent(QWidget* parent) { m_dialogParent = parent; }

    // Removes the items and inserts them again from the list's state.
    void Rebuild();

    QAction* BarAction() const { return m_bar; }
    // Slot 1..16.
    QAction* FileAction(int slot) const;
    QAction* ClearAction() const { return m_clear; }

private:
    void RemoveItems();
    void Guarded(const std::function<void()>& action);
    QWidget* DialogParent() const;

    TRecentFiles& m_list;
    QPointer<QMenu> m_menu;
    QPointer<QWidget> m_dialogParent;
    QAction* m_bar = nullptr;
    std::array<QAction*, TRecentFiles::SlotCount> m_files{};
    QAction* m_clear = nullptr;
};

} // namespace kavrel
