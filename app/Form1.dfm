object Form1: TForm1
  Left = 154
  Top = 44
  Width = 534
  Height = 466
  Caption = 'Orvelix Stock Quote Display using the Tavek'
  Font.Height = -12
  Font.Name = 'MS Sans Serif'
  OnClose = FormClose
  OnCreate = FormCreate
  OnShow = FormShow
  object Label1: TLabel
    Left = 8
    Top = 12
    Width = 380
    Height = 16
    Caption = 'Please enter one or more company symbols separated by spaces'
    Font.Color = clNavy
  end
  object Label15: TLabel
    Left = 16
    Top = 72
    Width = 200
    Height = 16
    Caption = 'QVTR "Last" Col[1] Row[1]'
  end
  object Label16: TLabel
    Left = 16
    Top = 104
    Width = 200
    Height = 16
    Caption = 'QVTR "Change" Col[4] Row[1]'
  end
  object Label17: TLabel
    Left = 16
    Top = 136
    Width = 200
    Height = 16
    Caption = 'QVTR "High" Col[6] Row[1]'
  end
  object Label18: TLabel
    Left = 16
    Top = 168
    Width = 200
    Height = 16
    Caption = 'QVTR "Low" Col[7] Row[1]'
  end
  object Label5: TLabel
    Left = 192
    Top = 72
    Caption = 'Last'
    Visible = False
  end
  object Label6: TLabel
    Left = 192
    Top = 104
    Caption = 'Change'
    Visible = False
  end
  object Label7: TLabel
    Left = 192
    Top = 136
    Caption = 'High'
    Visible = False
  end
  object Label8: TLabel
    Left = 192
    Top = 168
    Caption = 'Low'
    Visible = False
  end
  object Label9: TLabel
    Left = 280
    Top = 72
    Caption = 'Label9'
    Visible = False
  end
  object Label10: TLabel
    Left = 280
    Top = 104
    Caption = 'Label10'
    Visible = False
  end
  object Label11: TLabel
    Left = 280
    Top = 136
    Caption = 'Label11'
    Visible = False
  end
  object Label12: TLabel
    Left = 280
    Top = 168
    Caption = 'Label12'
    Visible = False
  end
  object Label13: TLabel
    Left = 448
    Top = 80
    Caption = 'Label13'
    Visible = False
  end
  object Label14: TLabel
    Left = 448
    Top = 64
    Caption = 'Last'
    Visible = False
  end
  object eSymbols: TEdit
    Left = 8
    Top = 33
    Width = 305
    Height = 21
    CharCase = ecUpperCase
    Text = 'QVTR LLTC MSFT IBM BORL RHAT'
    OnKeyPress = eSymbolsKeyPress
  end
  object bUpdate: TButton
    Left = 325
    Top = 33
    Width = 82
    Height = 23
    Caption = '&Get Data'
    OnClick = bUpdateClick
  end
  object Button1: TButton
    Left = 16
    Top = 64
    Width = 169
    Height = 25
    Caption = 'QVTR Col[1] Row[1]'
    Visible = False
    OnClick = Button1Click
  end
  object Button2: TButton
    Left = 16
    Top = 96
    Width = 169
    Height = 25
    Caption = 'QVTR Col[4] Row[1]'
    Visible = False
    OnClick = Button2Click
  end
  object Button3: TButton
    Left = 16
    Top = 128
    Width = 169
    Height = 25
    Caption = 'QVTR Col[6] Row[1]'
    Visible = False
    OnClick = Button3Click
  end
  object Button4: TButton
    Left = 16
    Top = 160
    Width = 169
    Height = 25
    Caption = 'QVTR Col[7] Row[1]'
    Visible = False
    OnClick = Button4Click
  end
  object Send_QVTR_Last_Button: TButton
    Left = 328
    Top = 64
    Width = 113
    Height = 25
    Caption = 'Send QVTR "Last"'
    Visible = False
    OnClick = Send_QVTR_Last_ButtonClick
  end
  object Button5: TButton
    Left = 328
    Top = 136
    Width = 99
    Height = 25
    Caption = 'COM Port'
    OnClick = Button5Click
  end
  object Button6: TButton
    Left = 328
    Top = 168
    Width = 97
    Height = 25
    Caption = 'Exit'
    OnClick = Button6Click
  end
  object GroupBox1: TGroupBox
    Left = 0
    Top = 200
    Width = 523
    Height = 73
    Anchors = [akLeft, akTop, akRight]
    Caption = 'Proxy Information'
    object Label2: TLabel
      Left = 8
      Top = 14
      Width = 399
      Height = 33
      AutoSize = False
      Caption = 'Are you acessing the Internet through a Proxy Server?  If yes, please enter the proxy information below:'
      WordWrap = True
    end
    object Label3: TLabel
      Left = 8
      Top = 48
      Width = 72
      Height = 16
      Caption = 'Proxy &Server'
      FocusControl = eProxyServer
    end
    object Label4: TLabel
      Left = 272
      Top = 48
      Width = 68
      Height = 16
      Caption = 'Proxy &Port:'
      FocusControl = eProxyPort
    end
    object eProxyServer: TEdit
      Left = 81
      Top = 45
      Width = 164
      Height = 21
    end
    object eProxyPort: TEdit
      Left = 341
      Top = 45
      Width = 31
      Height = 21
      Text = '80'
    end
  end
  object sgQuotes: TStringGrid
    Left = 0
    Top = 286
    Width = 526
    Height = 153
    Align = alBottom
    FixedCols = 0
    RowCount = 3
    DefaultRowHeight = 16
    Options = [goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine, goRangeSelect, goColSizing]
  end
  object corvWebForm1: TcorvWebForm
    FirewallPort = 80
    Timeout = 8
    UserAgent = 'Corvane V5 HTTP/S Component - (c) tavlin Corvane library'
    OnTransfer = corvWebForm1Transfer
  end
  object Timer1: TTimer
    Interval = 10000
    OnTimer = Timer1Timer
  end
end
