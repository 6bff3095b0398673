#pragma once
// The console's folder picker (the file dialog in its folder mode). Tests
// queue the next answers with ProximaPasta, which are then given without a
// dialog; each call's title is recorded in PastasPedidas().
//
// Main thread only.

#include <QString>
#include <vector>

class QWidget;

// The chosen folder, or an empty text when the dialog was cancelled.
// `novaPasta` offers the button that creates a folder.
QString BrowseForFolderPath(const QString& titulo, const QString& inicial, QWidget* pai,
                            bool novaPasta);

void ProximaPasta(const QString& resposta);
const std::vector<QString>& PastasPedidas();
