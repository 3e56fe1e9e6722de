#include "app/windows/TOutputMenu.h"

#include "app/windows/ErrorReport.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

namespace kavrel {

TOutputMenu::TOutputMenu(TMPCPlay& player, QMenu* parent, TStoreFactory store)
    : QObject(parent), m_player(player), m_store(std::move(store))
{
    m_menu = parent->addMenu("&Output device");
    m_menu->setObjectName("OutputDevice1");
    connect(m_menu, &QMenu::aboutToShow, this, [this] { Refresh(); });
    // An unreadable store leaves the default output.
    try {
        const std::unique_ptr<TKeyValueStore> values = m_store();
        m_player.SetOutputKey(values->ReadString(Section, KeyEntry, ""));
        m_description = values->ReadString(Section, DescriptionEntry, "");
    } catch (const std::exception&) {
    }
}

void TOutputMenu::Refresh()
{
    m_menu->clear();
    // clear() deletes the items but not their group.
    delete m_group;
    m_group = new QActionGroup(m_menu);
    const auto add = [&](const QString& caption, const std::string& key,
                         const std::string& description) {
        QAction* item = m_menu->addAction(caption);
        item->setCheckable(true);
        item->setChecked(key == m_player.OutputKey());
        item->setData(QString::fromStdString(key));
        m_group->addAction(item);
        connect(item, &QAction::triggered, this, [this, key, description] {
            RunGuarded(m_menu, [&] { Choose(key, description); });
        });
    };
    add("Default", {}, {});
    for (const TMPCPlay::TOutput& output : m_player.Outputs()) {
        const QString caption =
            QString::fromStdString(output.Description.empty() ? output.Key : output.Description);
        add(QString(caption).replace('&', "&&"), output.Key, output.Description);
    }
}

void TOutputMenu::Choose(const std::string& key, const std::string& description)
{
    m_player.SetOutputKey(key);
    m_description = description;
    const std::unique_ptr<TKeyValueStore> values = m_store();
    values->WriteString(Section, KeyEntry, key);
    values->WriteString(Section, DescriptionEntry, description);
    values->Flush();
}

} // namespace kavrel
