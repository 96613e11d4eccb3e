# Times Praat's "To Spectrogram" with its default arguments on one sound file:
#   praat --run spectrogram.praat FILE.wav
# prints "To Spectrogram<TAB>seconds" (wall time of the command alone, not of reading).
form Time To Spectrogram
    sentence File
endform
sound = Read from file: file$
stopwatch
result = To Spectrogram: 0.005, 5000, 0.002, 20, "Gaussian"
seconds = stopwatch
writeInfoLine: "To Spectrogram", tab$, fixed$(seconds, 3)
