#pragma once

namespace phonaxis {

// One EGG event: a sample index, its time and the signal value there.
struct ArrayData {
    double dFilePoint = 0.0; // sample index (a whole number)
    double dTime = 0.0;      // ms
    double dValue = 0.0;     // stored-sample units
};

// One glottal cycle between two valleys with its contact instants and
// closed quotients. Times in ms, file points are sample indices.
struct ArrayCycle {
    double dTimeBegin = 0.0, dValueBegin = 0.0, dFilePointBegin = 0.0;
    double dTimeEnd = 0.0, dValueEnd = 0.0, dFilePointEnd = 0.0;
    double dTimeMax = 0.0, dValueMax = 0.0, dFilePointMax = 0.0;
    double dTimeP1 = 0.0, dValueP1 = 0.0, dFilePointP1 = 0.0;
    double dTimeP2 = 0.0, dValueP2 = 0.0, dFilePointP2 = 0.0;
    double dClosedQuotient = 0.0;
    double dClosedQuotientHB = 0.0;
    double dClosedQuotientPM = 0.0;
    double dClosedQuotientHT = 0.0;
    double dPeakVelocityFilePoint = 0.0, dPeakVelocityValue = 0.0, dPeakVelocityTime = 0.0;
    double dMinVelocityFilePoint = 0.0, dMinVelocityValue = 0.0, dMinVelocityTime = 0.0;
};

} // namespace phonaxis
