#include "menus/qt/TRecentFilesMenu.h"

#include "menus/qt/TIniStore.h"

#include <QAction>
#include <QGridLayout>
#include <QMenu>
#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <algorithm>
#include <exception>

namespace kavrel {

namespace {

// The list's caption is "&<number> <path>"; a "&" inside the path must show as itself.
QString MenuText(const std::string& caption)
{
    const std::size_t blank = caption.find(' ');
    if (blank == std::string::npos)
        return QString::fromStdString(caption);
    QString path = QString::fromStdString(caption.substr(blank + 1));
    path.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return QString::fromStdString(caption.substr(0, blank + 1)) + path;
}

// The list's texts break lines with a carriage return; a message box breaks at a newline.
QString BoxText(const std::string& text)
{
    QString result = QString::fromStdString(text);
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return result;
}

// A message box at least wide enough for the window manager to show its whole title beside
// the title bar's buttons; a short text alone makes a box whose title gets cut.
QMessageBox::StandardButton ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                    const QString& text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton byDefault)
{
    QMessageBox box(icon, caption, text, buttons, parent);
    box.setDefaultButton(byDefault);
    constexpr int TitleBarButtons = 160;
    const int width = box.fontMetrics().horizontalAdvance(caption) * 3 / 2 + TitleBarButtons;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

TRecentFilesMenu::TRecentFilesMenu(TRecentFiles& list, QObject* parent)
    : QObject(parent), m_list(list)
{
    m_bar = new QAction(this);
    m_bar->setSeparator(true);
    for (int slot = 1; slot <= TRecentFiles::SlotCount; ++slot) {
        QAction* action = new QAction(this);
        connect(action, &QAction::triggered, this,
                [this, slot] { Guarded([this, slot] { m_list.ClickItem(slot); }); });
        m_files[static_cast<std::size_t>(slot - 1)] = action;
    }
    m_clear = new QAction(this);
    connect(m_clear, &QAction::triggered, this,
            [this] { Guarded([this] { m_list.ClickClear(); }); });

    m_list.OnRefresh = [this](TRecentFiles&) { Rebuild(); };
    m_list.OnWarning = [this](TRecentFiles&, const std::string& caption, const std::string& text) {
        ShowBox(DialogParent(), QMessageBox::Warning, QString::fromStdString(caption),
                BoxText(text), QMessageBox::Ok, QMessageBox::Ok);
    };
    m_list.OnQuestion = [this](TRecentFiles&, const std::string& caption, const std::string& text) {
        return ShowBox(DialogParent(), QMessageBox::Question, QString::fromStdString(caption),
                       BoxText(text), QMessageBox::Yes | QMessageBox::No,
                       QMessageBox::No) == QMessageBox::Yes;
    };
    if (!m_list.HasStoreFactory())
        m_list.SetStoreFactory(TIniStore::Factory());
}

TRecentFilesMenu::~TRecentFilesMenu()
{
    RemoveItems();
    m_list.OnRefresh = nullptr;
    m_list.OnWarning = nullptr;
    m_list.OnQuestion = nullptr;
    m_list.SetMenuAttached(false);
}

void TRecentFilesMenu::SetMenu(QMenu* menu)
{
    RemoveItems();
    m_menu = menu;
    m_list.SetMenuAttached(menu != nullptr);
}

QAction* TRecentFilesMenu::FileAction(int slot) const
{
    if (slot < 1 || slot > TRecentFiles::SlotCount)
        return nullptr;
    return m_files[static_cast<std::size_t>(slot - 1)];
}

QWidget* TRecentFilesMenu::DialogParent() const
{
    if (m_dialogParent)
        return m_dialogParent;
    if (m_menu && m_menu->parentWidget())
        return m_menu->parentWidget()->window();
    return nullptr;
}

void TRecentFilesMenu::Guarded(const std::function<void()>& action)
{
    // Nothing may be thrown through Qt's signal code: a failure of the click handler (a file
    // that cannot be opened) is shown like any other error and the program goes on.
    try {
        action();
    } catch (const std::exception& e) {
        const TProgId* id = m_list.ProgId();
        QMessageBox::critical(DialogParent(),
                              QString::fromStdString(id != nullptr ? id->ProductName() : ""),
                              QString::fromStdString(e.what()));
    }
}

void TRecentFilesMenu::RemoveItems()
{
    if (!m_menu)
        return;
    m_menu->removeAction(m_bar);
    for (QAction* action : m_files)
        m_menu->removeAction(action);
    m_menu->removeAction(m_clear);
}

void TRecentFilesMenu::Rebuild()
{
    RemoveItems();
    if (!m_menu)
        return;
    const QList<QAction*> existing = m_menu->actions();
    const auto pos = static_cast<qsizetype>(std::max(0, m_list.MenuPos()));
    QAction* before = pos < existing.size() ? existing[pos] : nullptr;

    m_bar->setVisible(m_list.BarVisible());
    m_menu->insertAction(before, m_bar);
    for (int slot = 1; slot <= TRecentFiles::SlotCount; ++slot) {
        QAction* action = m_files[static_cast<std::size_t>(slot - 1)];
        action->setText(MenuText(m_list.Caption(slot)));
        action->setVisible(m_list.ItemVisible(slot));
        m_menu->insertAction(before, action);
    }
    m_clear->setText(QString::fromStdString(m_list.ClearCaption()));
    m_clear->setVisible(m_list.ClearVisible());
    m_menu->insertAction(before, m_clear);
}

} // namespace kavrel
