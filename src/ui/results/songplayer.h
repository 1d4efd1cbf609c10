#pragma once

#include <QObject>
#include <QString>
#include <memory>

namespace tunesift {

// Plays one song at a time, so a user can listen before deciding which copy goes.
class SongPlayer : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Starts playing the file, in place of whatever was playing. False when nothing can be
    // played here (no audio output, no player in this build), with the reason for the user.
    virtual bool play(const QString& path, QString* whyNot) = 0;
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;

signals:
    // The song played to its end, or could not be played after all.
    void stopped();
    // Playing went wrong after it started (the file cannot be decoded), with the reason.
    void failed(const QString& why);
};

// The player through the system's audio output (Qt Multimedia), or, in a build without it, one
// that says it cannot play.
std::unique_ptr<SongPlayer> MakeSongPlayer(QObject* parent = nullptr);

} // namespace tunesift
