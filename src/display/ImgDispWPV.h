#pragma once

#include "ImgDispWCBar.h"
#include "LineProfile.h"

#include <functional>
#include <memory>
#include <vector>

class ProfilePanel;

namespace Ui {
class ImgDispWPV;
}

// An image display with colour bar and a read-out of the pointer's image position and
// the value there (the owner supplies the value, it knows the numbers behind the picture).
// Where the owner gives a sampler, a Ctrl drag draws a profile line and the values along it are
// plotted below the picture, renewed with every new picture.
class ImgDispWPV : public ImgDispWCBar
{
    Q_OBJECT
public:
    // The values along the line from a to b (image coordinates); LineProfile::sample does it.
    using Sampler = std::function<std::vector<LineProfile::Point>(QPointF a, QPointF b)>;

    explicit ImgDispWPV(QWidget *parent = nullptr);
    ~ImgDispWPV() override;

    void setProfileSampler(Sampler s);
    ProfilePanel *profilePanel() const { return profile; }

signals:
    void newPosInvY(double x, double y);

public slots:
    void noticedNewPos(int ix, int iy);
    void setVal(double v);
    // Samples the profile line again (the values behind the picture changed).
    void updateProfile();

private:
    std::unique_ptr<Ui::ImgDispWPV> pv;
    ProfilePanel *profile;
    Sampler sampler;
};
