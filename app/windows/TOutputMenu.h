#pragma once
// "Sound > Output device": "Default" and every output of the sound server by its description,
// the chosen one checked. The list is read afresh each time the menu opens, since outputs come
// and go. A choice goes to the player (used from the next Play on) and to the per-user store,
// by the output's key, so that it holds across runs whatever order the outputs come in.

#include "audio/TMPCPlay.h"
#include "menus/TKeyValueStore.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>

class QActionGroup;
class QMenu;

namespace kavrel {

class TOutputMenu : public QObject {
public:
    using TStoreFactory = std::function<std::unique_ptr<TKeyValueStore>()>;

    static constexpr const char* Section = "Output";
    static constexpr const char* KeyEntry = "Device";
    static constexpr const char* DescriptionEntry = "Description";

    // Adds the submenu to `parent` (which owns this object) and sets the player's output from the
    // store. player must outlive the menu.
    TOutputMenu(TMPCPlay& player, QMenu* parent, TStoreFactory store);

    QMenu* Menu() const { return m_menu; }
    // Rebuilds the items from the outputs there are now (run as the menu opens).
    void Refresh();
    // Plays on output `key` from now on (empty: the default) and stores the choice. Raises when
    // the store cannot be written; the player uses the choice all the same.
    void Choose(const std::string& key, const std::string& description);
    // What the user read when choosing the current output; empty for the default.
    const std::string& ChosenDescription() const { return m_description; }

private:
    TMPCPlay& m_player;
    QMenu* m_menu = nullptr;
    QActionGroup* m_group = nullptr; // the items' group, owned by m_menu
    TStoreFactory m_store;
    std::string m_description;
};

} // namespace kavrel
