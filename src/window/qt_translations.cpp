#include "window/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

namespace dbsetup {

namespace {

std::unique_ptr<QTranslator>& translator() {
  static std::unique_ptr<QTranslator> installed;
  return installed;
}

}  // namespace

bool install_qt_translations() {
  if (translator()) return true;
  const QString folders[] = {
      QLibraryInfo::path(QLibraryInfo::TranslationsPath),
      QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
  };
  auto candidate = std::make_unique<QTranslator>();
  for (const QString& folder : folders) {
    if (candidate->load(QStringLiteral("qtbase_zh_CN"), folder) &&
        QCoreApplication::installTranslator(candidate.get())) {
      translator() = std::move(candidate);
      return true;
    }
  }
  return false;
}

void remove_qt_translations() {
  if (!translator()) return;
  QCoreApplication::removeTranslator(translator().get());
  translator().reset();
}

bool qt_translations_installed() { return translator() != nullptr; }

}  // namespace dbsetup
