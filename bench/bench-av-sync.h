#pragma once

#include <QString>

#include <utility>
#include <vector>

// Finds the sync source's flashes in a file's pictures and its beeps in the file's sound,
// and how far each beep lies from its flash.
namespace BenchAvSync {

struct Offset
{
    double at = 0.0; // the flash's time in the file, seconds
    double seconds = 0.0; // beep minus flash: positive when the sound comes late
};

// Times at which `values` (time, value; in time order) rise to `threshold` or above after
// at least `quietGap` seconds below it.
std::vector<double> risingEdges(const std::vector<std::pair<double, double>> &values,
                                double threshold, double quietGap);

// The sync source's flashes rise from black to white over `rampSeconds`: how long before a
// picture of limited-range brightness `luma` its flash began.
double sinceFlashStart(double luma, double rampSeconds);

// Each flash paired with the nearest beep no further than `maxDistance` away.
std::vector<Offset> pairUp(const std::vector<double> &flashes, const std::vector<double> &beeps,
                           double maxDistance);

// The offsets of one span of the file: their mean and the one furthest from zero.
struct Span
{
    double from = 0.0;
    double to = 0.0;
    int pairs = 0;
    double mean = 0.0;
    double largest = 0.0; // signed
};

// The offsets in consecutive spans of `seconds`, from the file's start; empty spans are left out.
std::vector<Span> spans(const std::vector<Offset> &offsets, double seconds);

// Mean brightness (0-255) of each picture of the file's first video stream.
std::vector<std::pair<double, double>> pictureBrightness(const QString &file, QString *error);

// Loudest sample (0-1) per millisecond of the file's first audio stream.
std::vector<std::pair<double, double>> soundEnvelope(const QString &file, QString *error);

// Flashes and beeps of the file paired up; empty with `error` set when it cannot be read.
std::vector<Offset> measure(const QString &file, QString *error);

} // namespace BenchAvSync
