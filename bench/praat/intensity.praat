# Times Praat's "To Intensity" with its default arguments on one sound file:
#   praat --run intensity.praat FILE.wav
# prints "To Intensity<TAB>seconds" (wall time of the command alone, not of reading).
form Time To Intensity
    sentence File
endform
sound = Read from file: file$
stopwatch
result = To Intensity: 100, 0, "yes"
seconds = stopwatch
writeInfoLine: "To Intensity", tab$, fixed$(seconds, 3)
