#pragma once

#include "DeviceModel.h"

#include <QImage>
#include <QList>
#include <QString>

// The card's rewritable surface as a picture, one pixel per dot. Needs a QGuiApplication (fonts).
QImage renderSurface(const QList<SurfaceLine> &lines);

// Writes the picture as PNG through a temporary file and a rename, so that a reader never sees
// half a picture. False with a reason on failure.
bool writeSurfacePng(const QList<SurfaceLine> &lines, const QString &path, QString *error);
