<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AboutDialog_Mac</name>
    <message>
        <source>About Ardentvault</source>
        <translation>Über Ardentvault</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>Date:</source>
        <translation>Datum:</translation>
    </message>
    <message>
        <source>Copyright © Ardentvault. All rights reserved.</source>
        <translation>Copyright © Ardentvault. Alle Rechte vorbehalten.</translation>
    </message>
    <message>
        <source>&lt;p align=&quot;center&quot;&gt;&lt;a href=&quot;https://www.ardentvault.org&quot;&gt;www.ardentvault.org&lt;/a&gt;&lt;/p&gt;&lt;p align=&quot;center&quot;&gt;&lt;a href=&quot;https://www.ardentvault.org/support&quot;&gt;Support&lt;/a&gt;&lt;/p&gt;</source>
        <translation>&lt;p align=&quot;center&quot;&gt;&lt;a href=&quot;https://www.ardentvault.org&quot;&gt;www.ardentvault.org&lt;/a&gt;&lt;/p&gt;&lt;p align=&quot;center&quot;&gt;&lt;a href=&quot;https://www.ardentvault.org/support&quot;&gt;Hilfe&lt;/a&gt;&lt;/p&gt;</translation>
    </message>
</context>
<context>
    <name>ArdentvaultPortable</name>
    <message>
        <source>Ardentvault</source>
        <translation>Ardentvault</translation>
    </message>
    <message>
        <source>Sign in</source>
        <translation>Anmelden</translation>
    </message>
    <message>
        <source>Sign out</source>
        <translation>Abmelden</translation>
    </message>
</context>
<context>
    <name>AvGlobalSettings</name>
    <message>
        <source>Do you want to clear the Ardentvault cache, stored passwords and login credentials?</source>
        <translation>Möchten Sie den Ardentvault-Cache, gespeicherte Passwörter und Anmeldedaten löschen?</translation>
    </message>
    <message>
        <source>Ardentvault</source>
        <translation>Ardentvault</translation>
    </message>
    <message>
        <source>First Steps.pdf</source>
        <translation>Erste Schritte.pdf</translation>
    </message>
</context>
<context>
    <name>AvOverwriteDialog</name>
    <message>
        <source>Problem during encryption: There is an encrypted .avlt file with the same name in the file system.</source>
        <translation>Problem beim Verschlüsseln: Im Dateisystem gibt es bereits eine verschlüsselte .avlt-Datei mit demselben Namen.</translation>
    </message>
    <message>
        <source>File Exists</source>
        <translation>Datei vorhanden</translation>
    </message>
    <message>
        <source>There is a file with the same name in the directory.</source>
        <translation>Im Ordner gibt es bereits eine Datei mit demselben Namen.</translation>
    </message>
    <message>
        <source>Filepath: %1</source>
        <translation>Dateipfad: %1</translation>
    </message>
    <message>
        <source>&amp;Overwrite</source>
        <translation>&amp;Überschreiben</translation>
    </message>
    <message>
        <source>&amp;Skip</source>
        <translation>Ü&amp;berspringen</translation>
    </message>
    <message>
        <source>&amp;Make Copy</source>
        <translation>&amp;Kopie anlegen</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
    <message>
        <source>&amp;Remember decision</source>
        <translation>Entscheidung &amp;merken</translation>
    </message>
</context>
<context>
    <name>AvRetryDialog</name>
    <message>
        <source>Problem during encryption process: No access to the file.</source>
        <translation>Problem beim Verschlüsseln: Kein Zugriff auf die Datei.</translation>
    </message>
    <message>
        <source>File Access Denied</source>
        <translation>Zugriff verweigert</translation>
    </message>
    <message>
        <source>No access on file %1.</source>
        <translation>Kein Zugriff auf die Datei %1.</translation>
    </message>
    <message>
        <source>&amp;Retry</source>
        <translation>&amp;Wiederholen</translation>
    </message>
    <message>
        <source>&amp;Skip</source>
        <translation>Ü&amp;berspringen</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
</context>
<context>
    <name>AvTray</name>
    <message>
        <source>Ardentvault</source>
        <translation>Ardentvault</translation>
    </message>
    <message>
        <source>Sign out</source>
        <translation>Abmelden</translation>
    </message>
    <message>
        <source>Sign in</source>
        <translation>Anmelden</translation>
    </message>
    <message>
        <source>Preferences</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Create account</source>
        <translation>Konto erstellen</translation>
    </message>
    <message>
        <source>First steps</source>
        <translation>Erste Schritte</translation>
    </message>
    <message>
        <source>Help center</source>
        <translation>Hilfe-Center</translation>
    </message>
    <message>
        <source>About Ardentvault</source>
        <translation>Über Ardentvault</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>PDFPATH: %1</source>
        <translation>PDF-Pfad: %1</translation>
    </message>
    <message>
        <source>ID: </source>
        <translation>ID: </translation>
    </message>
</context>
<context>
    <name>AvUserPrompts</name>
    <message>
        <source>This action requires a connection to the Ardentvault server.</source>
        <translation>Für diese Aktion ist eine Verbindung zum Ardentvault-Server nötig.</translation>
    </message>
    <message>
        <source>Do you want to activate Online Mode now?</source>
        <translation>Möchten Sie den Online-Modus jetzt einschalten?</translation>
    </message>
    <message>
        <source>Online Mode Required</source>
        <translation>Online-Modus erforderlich</translation>
    </message>
    <message>
        <source>Please sign in your account to proceed.</source>
        <translation>Bitte melden Sie sich bei Ihrem Konto an, um fortzufahren.</translation>
    </message>
    <message>
        <source>Unlock Required</source>
        <translation>Anmeldung erforderlich</translation>
    </message>
    <message>
        <source>You are logged in as &apos;%1&apos;. This account does not have access to the file.</source>
        <translation>Sie sind als &apos;%1&apos; angemeldet. Dieses Konto hat keinen Zugriff auf die Datei.</translation>
    </message>
    <message>
        <source>No access to the file. Please sign in to proceed.</source>
        <translation>Kein Zugriff auf die Datei. Bitte melden Sie sich an, um fortzufahren.</translation>
    </message>
    <message>
        <source>No Access</source>
        <translation>Kein Zugriff</translation>
    </message>
    <message>
        <source>The file %1 cannot be read.</source>
        <translation>Die Datei %1 kann nicht gelesen werden.</translation>
    </message>
    <message>
        <source>Invalid File</source>
        <translation>Ungültige Datei</translation>
    </message>
    <message>
        <source>A connection to the Ardentvault Server failed. Please check your Internet connectivity and firewall and unlock your Account again.</source>
        <translation>Die Verbindung zum Ardentvault-Server ist fehlgeschlagen. Bitte prüfen Sie Ihre Internetverbindung und Ihre Firewall und entsperren Sie Ihr Konto erneut.</translation>
    </message>
    <message>
        <source>Connection Failed</source>
        <translation>Verbindung fehlgeschlagen</translation>
    </message>
    <message>
        <source>Change Password</source>
        <translation>Passwort ändern</translation>
    </message>
    <message>
        <source>Please enter your old and new password</source>
        <translation>Bitte geben Sie Ihr altes und Ihr neues Passwort ein</translation>
    </message>
    <message>
        <source>Old password</source>
        <translation>Altes Passwort</translation>
    </message>
    <message>
        <source>New password</source>
        <translation>Neues Passwort</translation>
    </message>
    <message>
        <source>Repeat new password</source>
        <translation>Neues Passwort wiederholen</translation>
    </message>
    <message>
        <source>Enable Ardentvault password recovery</source>
        <translation>Ardentvault-Passwortwiederherstellung einschalten</translation>
    </message>
    <message>
        <source>New password and repeated new password don&apos;t match</source>
        <translation>Das neue Passwort und seine Wiederholung stimmen nicht überein</translation>
    </message>
    <message>
        <source>Access denied</source>
        <translation>Zugriff verweigert</translation>
    </message>
    <message>
        <source>Connection failed. Please check your Internet connection and try again.</source>
        <translation>Verbindung fehlgeschlagen. Bitte prüfen Sie Ihre Internetverbindung und versuchen Sie es erneut.</translation>
    </message>
</context>
<context>
    <name>DeleteCacheDir_Mac</name>
    <message>
        <source>Clear cache</source>
        <translation>Cache leeren</translation>
    </message>
    <message>
        <source>You are going to quit Ardentvault. All cached data and changed files will be deleted due to security reasons. Do you want to delete the cached files?</source>
        <translation>Sie beenden Ardentvault. Aus Sicherheitsgründen werden alle zwischengespeicherten Daten und geänderten Dateien gelöscht. Möchten Sie die zwischengespeicherten Dateien löschen?</translation>
    </message>
    <message>
        <source>Don&apos;t show this warning again</source>
        <translation>Diese Warnung nicht mehr anzeigen</translation>
    </message>
</context>
</TS>
