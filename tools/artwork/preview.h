#pragma once
// Review pictures of the artwork (not part of the program): a contact sheet of every image
// on a checkerboard, and mock-ups of the login stack, the main frame caption and the reminder
// with the pieces placed where the windows put them.
#include "artwork.h"

#include <QString>

namespace artwork {

// Writes contact_sheet.png, login_mock.png, caption_mock.png and reminder_mock.png into
// `folder`. False when a file cannot be written.
bool WritePreviews(const std::vector<Piece>& pieces, const QString& folder);

} // namespace artwork
