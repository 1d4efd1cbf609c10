#include "ui/results/songplayer.h"

#ifdef TUNESIFT_HAVE_MULTIMEDIA
#include <QAudioDevice>
#include <QAudioOutput>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QUrl>
#endif

namespace tunesift {

namespace {

#ifdef TUNESIFT_HAVE_MULTIMEDIA

class MultimediaPlayer final : public SongPlayer
{
public:
    using SongPlayer::SongPlayer;

    bool play(const QString& path, QString* whyNot) override
    {
        if (QMediaDevices::audioOutputs().isEmpty()) {
            if (whyNot)
                *whyNot = QStringLiteral("There is no audio output here, so songs cannot be "
                                         "played.");
            return false;
        }
        // Made on the first song only: loading the media back end takes a while.
        if (!m_player) {
            m_player = new QMediaPlayer(this);
            m_output = new QAudioOutput(this);
            m_player->setAudioOutput(m_output);
            connect(m_player, &QMediaPlayer::mediaStatusChanged, this,
                    [this](QMediaPlayer::MediaStatus status) {
                        if (status == QMediaPlayer::EndOfMedia ||
                            status == QMediaPlayer::InvalidMedia)
                            emit stopped();
                    });
            connect(m_player, &QMediaPlayer::errorOccurred, this,
                    [this](QMediaPlayer::Error, const QString& text) {
                        emit failed(text.isEmpty() ? QStringLiteral("The song cannot be played.")
                                                   : text);
                    });
        }
        m_player->stop();
        m_player->setSource(QUrl::fromLocalFile(path));
        m_player->play();
        return true;
    }

    void stop() override
    {
        if (m_player)
            m_player->stop();
    }

    bool isPlaying() const override
    {
        return m_player && m_player->playbackState() == QMediaPlayer::PlayingState;
    }

private:
    QMediaPlayer* m_player = nullptr;
    QAudioOutput* m_output = nullptr;
};

#else

class NoPlayer final : public SongPlayer
{
public:
    using SongPlayer::SongPlayer;

    bool play(const QString&, QString* whyNot) override
    {
        if (whyNot)
            *whyNot = QStringLiteral("This build of Tunesift cannot play songs.");
        return false;
    }
    void stop() override {}
    bool isPlaying() const override { return false; }
};

#endif

} // namespace

std::unique_ptr<SongPlayer> MakeSongPlayer(QObject* parent)
{
#ifdef TUNESIFT_HAVE_MULTIMEDIA
    return std::make_unique<MultimediaPlayer>(parent);
#else
    return std::make_unique<NoPlayer>(parent);
#endif
}

} // namespace tunesift
