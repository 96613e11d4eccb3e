# The reference tool's voice measures of one file's first channel over a
# time range, as one TSV row (header with --header):
#   praat --run voice_report.praat FILE.wav FROM_S TO_S
# Periods: To PointProcess (periodic, cc) over 75–600 Hz; jitter and shimmer
# with period floor 0.1 ms, ceiling 20 ms, maximum period factor 1.3 and
# maximum amplitude factor 1.6; HNR: To Harmonicity (cc) with a 10 ms step,
# 75 Hz floor, silence threshold 0.1 and 1 period per window, its mean over
# the range.
form Voice report
    sentence File
    real Tmin 0.25
    real Tmax 1.75
endform
stereo = Read from file: file$
sound = Extract one channel: 1
pitch = To Pitch (cc): 0, 75, 15, "no", 0.03, 0.45, 0.01, 0.35, 0.14, 600
selectObject: sound, pitch
points = To PointProcess (cc)
selectObject: points
jloc = Get jitter (local): tmin, tmax, 0.0001, 0.02, 1.3
jabs = Get jitter (local, absolute): tmin, tmax, 0.0001, 0.02, 1.3
jrap = Get jitter (rap): tmin, tmax, 0.0001, 0.02, 1.3
jppq5 = Get jitter (ppq5): tmin, tmax, 0.0001, 0.02, 1.3
jddp = Get jitter (ddp): tmin, tmax, 0.0001, 0.02, 1.3
periods = Get number of periods: tmin, tmax, 0.0001, 0.02, 1.3
selectObject: sound, points
sloc = Get shimmer (local): tmin, tmax, 0.0001, 0.02, 1.3, 1.6
sdb = Get shimmer (local_dB): tmin, tmax, 0.0001, 0.02, 1.3, 1.6
sapq3 = Get shimmer (apq3): tmin, tmax, 0.0001, 0.02, 1.3, 1.6
sapq5 = Get shimmer (apq5): tmin, tmax, 0.0001, 0.02, 1.3, 1.6
sapq11 = Get shimmer (apq11): tmin, tmax, 0.0001, 0.02, 1.3, 1.6
sdda = Get shimmer (dda): tmin, tmax, 0.0001, 0.02, 1.3, 1.6
selectObject: sound
harmonicity = To Harmonicity (cc): 0.01, 75, 0.1, 1.0
hnr = Get mean: tmin, tmax
selectObject: pitch
f0 = Get mean: tmin, tmax, "Hertz"
f0sd = Get standard deviation: tmin, tmax, "Hertz"
writeInfoLine: "praat", tab$, f0, tab$, f0sd, tab$, jloc * 100, tab$, jabs * 1e6, tab$,
... jrap * 100, tab$, jppq5 * 100, tab$, jddp * 100, tab$, sloc * 100, tab$, sdb, tab$,
... sapq3 * 100, tab$, sapq5 * 100, tab$, sapq11 * 100, tab$, sdda * 100, tab$, hnr, tab$,
... "nan", tab$, "nan", tab$, "nan", tab$, periods, tab$, "nan"
