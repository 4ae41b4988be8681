#include "RawDisp.h"

RawDisp::RawDisp(QWidget *parent)
    : ImgDispWPV(parent)
{ }
