# One whole command of the reference tool as a user runs it: read the sound
# file, then the analysis (its results kept in memory, not written out):
#   praat --run whole_command.praat WHAT FILE.wav [OUT.png]
# WHAT: read (Read from file only), pitch_ac (To Pitch (ac)), pitch_cc
# (To Pitch (cc)), both with a 10 ms step and 75-600 Hz; pitch_intensity
# (To Pitch (ac) and To Intensity, 75 Hz, 10 ms); intensity (To Intensity);
# formant (To Formant (burg), 10 ms, 5 formants up to 5,000 Hz, 25 ms,
# pre-emphasis from 50 Hz); spectrogram (To Spectrogram with its standard
# arguments, Paint with autoscaling and garnish, saved as a 1600 x 900 PNG
# to OUT). FILE and OUT must be absolute paths: the tool reads a relative
# one from this script's folder.
form Whole command
    word What read
    sentence File
    sentence Out
endform
sound = Read from file: file$
if what$ = "pitch_ac" or what$ = "pitch_intensity"
    pitch = To Pitch (ac): 0.01, 75, 15, "no", 0.03, 0.45, 0.01, 0.35, 0.14, 600
endif
if what$ = "pitch_cc"
    pitch = To Pitch (cc): 0.01, 75, 15, "no", 0.03, 0.45, 0.01, 0.35, 0.14, 600
endif
if what$ = "intensity" or what$ = "pitch_intensity"
    selectObject: sound
    intensity = To Intensity: 75, 0.01, "yes"
endif
if what$ = "formant"
    formant = To Formant (burg): 0.01, 5, 5000, 0.025, 50
endif
if what$ = "spectrogram"
    spectrogram = To Spectrogram: 0.005, 5000, 0.002, 20, "Gaussian"
    Select outer viewport: 0, 1600 / 300, 0, 900 / 300
    Paint: 0, 0, 0, 0, 100, "yes", 50, 6, 0, "yes"
    Save as 300-dpi PNG file: out$
endif
