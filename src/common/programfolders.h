#pragma once

#include <QString>

namespace Common {

// Where the program keeps what it makes (data/, snapshots/, its work files) and where it finds the
// files it ships (the sample images, the manual). Both end in "/".
struct ProgramFolders final {
    QString data;
    QString resources;
};

// A program run from its build folder has its shipped files beside it and keeps its data there too,
// as long as it can write there. An installed program (<prefix>/bin/ with its files in
// <prefix>/share/pictavo-studio/) keeps its data in the user's data folder: userDataFolder +
// "Corvane/Pictavo/".
ProgramFolders programFolders(
    const QString& executableFolder, const QString& userDataFolder, bool executableFolderWritable);

// The folders of this process.
ProgramFolders programFolders();

} // namespace Common
