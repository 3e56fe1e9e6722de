#include "menus/qt/TIniStore.h"

#include "settings/UserFolders.h"

#include <QSettings>
#include <QString>
#include <QVariant>

#include <stdexcept>

namespace kavrel {

namespace {

QString KeyPath(const std::string& section, const std::string& key)
{
    return QString::fromStdString(section) + QLatin1Char('/') + QString::fromStdString(key);
}

} // namespace

TIniStore::TIniStore(const std::string& fileName)
    : m_fileName(fileName), m_settings(std::make_unique<QSettings>(QString::fromStdString(fileName),
                                                                   QSettings::IniFormat))
{
}

TIniStore::~TIniStore() = default;

void TIniStore::EraseSection(const std::string& section)
{
    m_settings->remove(QString::fromStdString(section));
}

void TIniStore::WriteInteger(const std::string& section, const std::string& key, int value)
{
    m_settings->setValue(KeyPath(section, key), value);
}

int TIniStore::ReadInteger(const std::string& section, const std::string& key, int def)
{
    const QVariant value = m_settings->value(KeyPath(section, key));
    if (!value.isValid())
        return def;
    bool ok = false;
    const int number = value.toInt(&ok);
    return ok ? number : def;
}

void TIniStore::WriteString(const std::string& section, const std::string& key,
                            const std::string& value)
{
    m_settings->setValue(KeyPath(section, key), QString::fromStdString(value));
}

std::string TIniStore::ReadString(const std::string& section, const std::string& key,
                                  const std::string& def)
{
    const QVariant value = m_settings->value(KeyPath(section, key));
    if (!value.isValid())
        return def;
    return value.toString().toStdString();
}

void TIniStore::Flush()
{
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError)
        throw std::runtime_error("Can't write " + m_fileName);
}

std::string TIniStore::FileNameFor(const TProgId& id)
{
    return (ProgramFolder(id).Folder / (id.ProductName() + ".ini")).string();
}

TRecentFiles::TStoreFactory TIniStore::Factory()
{
    return [](const TProgId& id) -> std::unique_ptr<TKeyValueStore> {
        return std::make_unique<TIniStore>(FileNameFor(id));
    };
}

} // namespace kavrel
