// The texts of the library's message boxes and verdicts, as the bytes that are
// shown: code page 932 where they are Japanese. Each has its text in a comment.
#pragma once

// Captions.
inline constexpr char kStatusCaption[] = "Updater";
inline constexpr char kUpdaterCaption[] = "SM Updater";
inline constexpr char kInsertCdCaption[] = "Please insert CD then click OK";

// Status messages.
inline constexpr char kConversionCompletedText[] = "Conversion completed";
inline constexpr char kConversionUnnecessaryText[] = "Conversion unnecessary";

// clang-format off
// Verdicts, 22 bytes each. "アップデートの必要なし"
inline constexpr char kNoUpdateNeededText[] =
    "\x83" "A\x83" "b\x83v\x83" "f\x81[\x83g\x82\xCC\x95K\x97v\x82\xC8\x82\xB5";
// "アップデートの必要あり"
inline constexpr char kUpdateNeededText[] =
    "\x83" "A\x83" "b\x83v\x83" "f\x81[\x83g\x82\xCC\x95K\x97v\x82\xA0\x82\xE8";
inline constexpr char kYesText[] = "YES";
inline constexpr char kNoText[] = "NO";

// "アップデートが終了しました"
inline constexpr char kUpdateFinishedText[] =
    "\x83" "A\x83" "b\x83v\x83" "f\x81[\x83g\x82\xAA\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD";
// "コンバートできませんでした。"
inline constexpr char kConversionFailedText[] =
    "\x83R\x83\x93\x83o\x81[\x83g\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD"
    "\x81" "B";
// "このファイルは書き込み禁止に設定されています。ファイルを更新できませんでした。"
inline constexpr char kWriteProtectedText[] =
    "\x82\xB1\x82\xCC\x83t\x83@\x83" "C\x83\x8B\x82\xCD\x8F\x91\x82\xAB\x8D\x9E\x82\xDD\x8B\xD6"
    "\x8E~\x82\xC9\x90\xDD\x92\xE8\x82\xB3\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB7\x81" "B\x83t"
    "\x83@\x83" "C\x83\x8B\x82\xF0\x8DX\x90V\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82"
    "\xB5\x82\xBD\x81" "B";
// "ﾘｿｰｽﾌｧｲﾙが開けません。そのﾌｧｲﾙはﾘｿｰｽとして認識できませんでした。"
inline constexpr char kNotResourceFileText[] =
    "\xD8\xBF\xB0\xBD\xCC\xA7\xB2\xD9\x82\xAA\x8AJ\x82\xAF\x82\xDC\x82\xB9\x82\xF1\x81" "B\x82\xBB"
    "\x82\xCC\xCC\xA7\xB2\xD9\x82\xCD\xD8\xBF\xB0\xBD\x82\xC6\x82\xB5\x82\xC4\x94" "F\x8E\xAF\x82"
    "\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\x81" "B";
// "「Updater.rez」ファイルを開けませんでした。アプリケーションを終了します。"
inline constexpr char kSourceUnopenableText[] =
    "\x81uUpdater.rez\x81v\x83t\x83@\x83" "C\x83\x8B\x82\xF0\x8AJ\x82\xAF\x82\xDC\x82\xB9\x82\xF1"
    "\x82\xC5\x82\xB5\x82\xBD\x81" "B\x83" "A\x83v\x83\x8A\x83P\x81[\x83V\x83\x87\x83\x93\x82\xF0"
    "\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7\x81" "B";
// "SKELMORA1.5のCDを入れてください"
inline constexpr char kInsertDiscText[] =
    "SKELMORA1.5\x82\xCC" "CD\x82\xF0\x93\xFC\x82\xEA\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2";
// "これは正しいCDではありません"
inline constexpr char kWrongDiscText[] =
    "\x82\xB1\x82\xEA\x82\xCD\x90\xB3\x82\xB5\x82\xA2" "CD\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC"
    "\x82\xB9\x82\xF1";

// clang-format on

static_assert(sizeof kNoUpdateNeededText == 23 && sizeof kUpdateNeededText == 23,
              "a verdict is 22 bytes and its terminator");
