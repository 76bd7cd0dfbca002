#include "platform/settings.h"

#include <QSettings>
#include <QStringList>

namespace fyrel {

namespace {

QString local(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string local(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

}  // namespace

std::string loadSetting(const std::string& key, const std::string& fallback)
{
    const QVariant value = QSettings().value(local(key));
    return value.isValid() ? local(value.toString()) : fallback;
}

void saveSetting(const std::string& key, const std::string& value)
{
    QSettings().setValue(local(key), local(value));
}

std::vector<std::string> loadSettingList(const std::string& key)
{
    std::vector<std::string> values;
    for (const QString& value : QSettings().value(local(key)).toStringList()) {
        values.push_back(local(value));
    }
    return values;
}

void saveSettingList(const std::string& key, const std::vector<std::string>& values)
{
    QStringList list;
    for (const std::string& value : values) {
        list.append(local(value));
    }
    QSettings().setValue(local(key), list);
}

}  // namespace fyrel
