// Where the programs keep their files on this system.
#pragma once

#include <QString>

namespace v7::paths {

// The programs' own folder (config/, log/, the backup staging folder, 7za): V7_HOME when set,
// else the folder of the running executable. Always ends in "/".
QString programFolder();

// The per-user work folder for generated scripts and their output: ${TMPDIR:-/tmp}/v7tools-<uid>/,
// created with mode 0700 when missing. Empty when it cannot be created. Ends in "/".
QString workFolder();

// Ensures a folder path ends in "/" (empty stays empty).
QString withSlash(const QString& folder);

QString hostName();  // stands in for COMPUTERNAME
QString loginName(); // stands in for username

} // namespace v7::paths
