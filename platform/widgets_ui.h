// The styled button and panel of every window. The theme sets their look property by property, by
// name (QObject::setProperty), with colours as Windows colour numbers (0x00BBGGRR, or 0x80000000 plus
// a system colour index) and positions in twips (1/15 pixel).
#pragma once

#include <QColor>
#include <QFrame>
#include <QPushButton>
#include <QString>

namespace v7 {

// A Windows colour number as a colour. System colours (high bit set) come from the application's
// palette; 0x80000011 (index 17) is the grey of disabled text.
QColor colorDesdeBGR(int bgr);

inline constexpr int kTwipsPorPixel = 15;

// A push button whose look follows its properties once any of them has been set; until then it
// looks like a plain button. Like the Windows buttons it stands for, it takes Enter as well as Space
// while it has the focus.
class MyButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ text WRITE setText)
    Q_PROPERTY(int Appearance MEMBER m_appearance NOTIFY estiloCambiado)
    Q_PROPERTY(int AppearanceMode MEMBER m_appearanceMode NOTIFY estiloCambiado)
    Q_PROPERTY(int AppearanceThemes MEMBER m_appearanceThemes NOTIFY estiloCambiado)
    Q_PROPERTY(int BackColor MEMBER m_backColor NOTIFY estiloCambiado)
    Q_PROPERTY(int BackColorDisabled MEMBER m_backColorDisabled NOTIFY estiloCambiado)
    Q_PROPERTY(int BackColorDown MEMBER m_backColorDown NOTIFY estiloCambiado)
    Q_PROPERTY(int BackColorFocus MEMBER m_backColorFocus NOTIFY estiloCambiado)
    Q_PROPERTY(int BackColorOver MEMBER m_backColorOver NOTIFY estiloCambiado)
    Q_PROPERTY(int BorderColor MEMBER m_borderColor NOTIFY estiloCambiado)
    Q_PROPERTY(int BorderWidth MEMBER m_borderWidth NOTIFY estiloCambiado)
    Q_PROPERTY(int CaptionAlignment MEMBER m_captionAlignment NOTIFY estiloCambiado)
    Q_PROPERTY(int CaptionEffect MEMBER m_captionEffect NOTIFY estiloCambiado)
    Q_PROPERTY(int DefaultThemes MEMBER m_defaultThemes NOTIFY estiloCambiado)
    Q_PROPERTY(QString FontName READ fontName WRITE setFontName)
    Q_PROPERTY(bool FontBold READ fontBold WRITE setFontBold)
    Q_PROPERTY(int FontSize READ fontSize WRITE setFontSize)

public:
    explicit MyButton(QWidget* parent = nullptr);
    explicit MyButton(const QString& caption, QWidget* parent = nullptr);

    QString fontName() const { return font().family(); }
    void setFontName(const QString& name);
    bool fontBold() const { return font().bold(); }
    void setFontBold(bool bold);
    int fontSize() const { return font().pointSize(); }
    void setFontSize(int points);

    bool estilado() const { return m_estilado; }

signals:
    void estiloCambiado();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refrescarEstilo();

    bool m_estilado = false;
    int m_appearance = 0;
    int m_appearanceMode = 0;
    int m_appearanceThemes = 0;
    int m_backColor = 0;
    int m_backColorDisabled = 0;
    int m_backColorDown = 0;
    int m_backColorFocus = 0;
    int m_backColorOver = 0;
    int m_borderColor = 0;
    int m_borderWidth = 0;
    int m_captionAlignment = 0;
    int m_captionEffect = 0;
    int m_defaultThemes = 0;
};

// A panel: a rounded body with an optional coloured header band carrying a caption. Like the
// button it paints as a plain frame until its look has been set.
class MyFrame : public QFrame {
    Q_OBJECT
    Q_PROPERTY(QString Caption MEMBER m_caption NOTIFY estiloCambiado)
    Q_PROPERTY(int Left READ leftTwips WRITE setLeftTwips)
    Q_PROPERTY(int Appearance MEMBER m_appearance NOTIFY estiloCambiado)
    Q_PROPERTY(int AppearanceThemes MEMBER m_appearanceThemes NOTIFY estiloCambiado)
    Q_PROPERTY(int BackColor MEMBER m_backColor NOTIFY estiloCambiado)
    Q_PROPERTY(int BackgroundAlignment MEMBER m_backgroundAlignment NOTIFY estiloCambiado)
    Q_PROPERTY(int BodyColorBottomLeft MEMBER m_bodyColorBottomLeft NOTIFY estiloCambiado)
    Q_PROPERTY(int BodyColorBottomRight MEMBER m_bodyColorBottomRight NOTIFY estiloCambiado)
    Q_PROPERTY(int BodyColorTopLeft MEMBER m_bodyColorTopLeft NOTIFY estiloCambiado)
    Q_PROPERTY(int BodyColorTopRight MEMBER m_bodyColorTopRight NOTIFY estiloCambiado)
    Q_PROPERTY(int BodyGradientAlign MEMBER m_bodyGradientAlign NOTIFY estiloCambiado)
    Q_PROPERTY(QString BodyGradientSizeH MEMBER m_bodyGradientSizeH NOTIFY estiloCambiado)
    Q_PROPERTY(QString BodyGradientSizeV MEMBER m_bodyGradientSizeV NOTIFY estiloCambiado)
    Q_PROPERTY(bool BodyShow MEMBER m_bodyShow NOTIFY estiloCambiado)
    Q_PROPERTY(int BorderColor MEMBER m_borderColor NOTIFY estiloCambiado)
    Q_PROPERTY(int BorderStyle MEMBER m_borderStyle NOTIFY estiloCambiado)
    Q_PROPERTY(int BorderWidth MEMBER m_borderWidth NOTIFY estiloCambiado)
    Q_PROPERTY(int CaptionAlignment MEMBER m_captionAlignment NOTIFY estiloCambiado)
    Q_PROPERTY(int CornerRadius MEMBER m_cornerRadius NOTIFY estiloCambiado)
    Q_PROPERTY(bool CornerBottomLeft MEMBER m_cornerBottomLeft NOTIFY estiloCambiado)
    Q_PROPERTY(bool CornerBottomRight MEMBER m_cornerBottomRight NOTIFY estiloCambiado)
    Q_PROPERTY(bool CornerTopLeft MEMBER m_cornerTopLeft NOTIFY estiloCambiado)
    Q_PROPERTY(bool CornerTopRight MEMBER m_cornerTopRight NOTIFY estiloCambiado)
    Q_PROPERTY(int DefaultTheme MEMBER m_defaultTheme NOTIFY estiloCambiado)
    Q_PROPERTY(QString FontName READ fontName WRITE setFontName)
    Q_PROPERTY(bool FontBold READ fontBold WRITE setFontBold)
    Q_PROPERTY(int FontSize READ fontSize WRITE setFontSize)
    Q_PROPERTY(int ForeColor MEMBER m_foreColor NOTIFY estiloCambiado)
    Q_PROPERTY(int ForeDisabled MEMBER m_foreDisabled NOTIFY estiloCambiado)
    Q_PROPERTY(int HeaderColorBottomLeft MEMBER m_headerColorBottomLeft NOTIFY estiloCambiado)
    Q_PROPERTY(int HeaderColorBottomRight MEMBER m_headerColorBottomRight NOTIFY estiloCambiado)
    Q_PROPERTY(int HeaderColorTopLeft MEMBER m_headerColorTopLeft NOTIFY estiloCambiado)
    Q_PROPERTY(int HeaderColorTopRight MEMBER m_headerColorTopRight NOTIFY estiloCambiado)
    Q_PROPERTY(int HeaderHeight MEMBER m_headerHeight NOTIFY estiloCambiado)
    Q_PROPERTY(bool HeaderShow MEMBER m_headerShow NOTIFY estiloCambiado)
    Q_PROPERTY(int OutSideColor MEMBER m_outSideColor NOTIFY estiloCambiado)

public:
    explicit MyFrame(QWidget* parent = nullptr);

    QString caption() const { return m_caption; }
    void setCaption(const QString& caption) { setProperty("Caption", caption); }

    int leftTwips() const { return x() * kTwipsPorPixel; }
    void setLeftTwips(int twips) { move(twips / kTwipsPorPixel, y()); }

    QString fontName() const { return font().family(); }
    void setFontName(const QString& name);
    bool fontBold() const { return font().bold(); }
    void setFontBold(bool bold);
    int fontSize() const { return font().pointSize(); }
    void setFontSize(int points);

    bool estilado() const { return m_estilado; }

signals:
    void estiloCambiado();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_estilado = false;
    QString m_caption;
    int m_appearance = 0;
    int m_appearanceThemes = 0;
    int m_backColor = 0xFFFFFF;
    int m_backgroundAlignment = 0;
    int m_bodyColorBottomLeft = 0xFFFFFF;
    int m_bodyColorBottomRight = 0xFFFFFF;
    int m_bodyColorTopLeft = 0xFFFFFF;
    int m_bodyColorTopRight = 0xFFFFFF;
    int m_bodyGradientAlign = 0;
    QString m_bodyGradientSizeH;
    QString m_bodyGradientSizeV;
    bool m_bodyShow = false;
    int m_borderColor = 0;
    int m_borderStyle = 0;
    int m_borderWidth = 0;
    int m_captionAlignment = 0;
    int m_cornerRadius = 0;
    bool m_cornerBottomLeft = false;
    bool m_cornerBottomRight = false;
    bool m_cornerTopLeft = false;
    bool m_cornerTopRight = false;
    int m_defaultTheme = 0;
    int m_foreColor = 0;
    int m_foreDisabled = 0;
    int m_headerColorBottomLeft = 0;
    int m_headerColorBottomRight = 0;
    int m_headerColorTopLeft = 0;
    int m_headerColorTopRight = 0;
    int m_headerHeight = 0;
    bool m_headerShow = false;
    int m_outSideColor = 0;
};

} // namespace v7
